// Conversions between UTF-8 and the system's 16-bit text, on every platform.
#include <cstdint>

#include "platform/com/com.h"
#include "platform/inlet/utf8.h"

namespace platform::com {

std::string ToUtf8(const OLECHAR* text) {
  std::string out;
  if (!text) return out;
  for (; *text; ++text) AppendUtf8(out, static_cast<char16_t>(*text));
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
