// Conversions between UTF-8 and the system's 16-bit text, on every platform.
#include <cstdint>

#include "platform/com/com.h"

namespace platform::com {

std::string ToUtf8(const OLECHAR* text) {
  std::string out;
  if (!text) return out;
  for (; *text; ++text) {
    const auto c = static_cast<std::uint32_t>(static_cast<char16_t>(*text));
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
  return out;
}

OleString FromUtf8(const std::string& text) {
  OleString out;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::uint32_t c = b;
    std::size_t extra = 0;
    if (b >= 0xE0) {
      c = b & 0x0F, extra = 2;
    } else if (b >= 0xC0) {
      c = b & 0x1F, extra = 1;
    }
    ++i;
    for (std::size_t k = 0; k < extra && i < text.size(); ++k, ++i) {
      c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    out += static_cast<OLECHAR>(c);
  }
  return out;
}

}  // namespace platform::com
