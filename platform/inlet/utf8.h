// UTF-8 for the 16-bit characters of the system's texts and of the host's
// single-byte code page, both of which stay within the Basic Multilingual
// Plane (a lone surrogate is written as its own three bytes).
#pragma once

#include <string>

namespace platform {

inline void AppendUtf8(std::string& out, char16_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace platform
