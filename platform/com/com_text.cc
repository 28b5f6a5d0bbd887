// Conversions between UTF-8 and the system's 16-bit text, on every platform.
#include <algorithm>
#include <cstdint>

#include "platform/com/com.h"
#include "platform/inlet/text.h"

namespace platform::com {

std::string ToUtf8(const OLECHAR* text) {
  std::string out;
  if (!text) return out;
  for (; *text; ++text) {
    const char32_t c = static_cast<char16_t>(*text);
    const char32_t next = static_cast<char16_t>(text[1]);
    if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00));
      ++text;
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

// Bytes that are not UTF-8 become U+FFFD; characters beyond the 16 bits a
// surrogate pair.
OleString FromUtf8(const std::string& text) {
  OleString out;
  // Plain ASCII, as most names and messages are, is the same code units.
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    out.assign(text.begin(), text.end());
    return out;
  }
  for (std::size_t at = 0; at < text.size();) {
    const char32_t c = DecodeUtf8(text, at).value_or(0xFFFD);
    if (c < 0x10000) {
      out += static_cast<OLECHAR>(c);
    } else {
      out += static_cast<OLECHAR>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<OLECHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

}  // namespace platform::com
