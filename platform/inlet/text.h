// Text encodings, in one place: UTF-8 (what users read and write: method
// files, the settings file, the terminal, the run files), the host's
// single-byte code page Windows-1252 (the plug-in's own texts), and the
// system's 16-bit texts.
//
// Contract:
//  - AppendUtf8 writes one character (up to U+10FFFF; a lone surrogate of
//    a 16-bit text is written as its own three bytes).
//  - DecodeUtf8 reads one character at `at` and moves past it. It accepts
//    only well-formed UTF-8: no overlong form, no surrogate, nothing above
//    U+10FFFF, no stray or missing continuation byte; for anything else it
//    returns nothing and moves past one byte.
//  - Windows-1252: every byte stands for one character; 0x81, 0x8D, 0x8F,
//    0x90 and 0x9D stand for none and read as U+FFFD. ToWindows1252 gives
//    the byte of a character, or nothing when the code page has no place
//    for it.
//  - Windows1252FromUtf8 puts '?' for what has no place (and for bytes
//    that are not UTF-8) and says whether it had to (`lossless`).
// Header only, so that every part of the platform can use it without a
// link dependency. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

inline std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  ++at;
  if (lead < 0x80) return lead;
  // The length a lead byte announces, and the least character of that
  // length (a smaller one would be an overlong form).
  const std::size_t extra = lead >= 0xC2 && lead <= 0xDF ? 1 : (lead & 0xF0) == 0xE0 ? 2 : lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
  if (extra == 0 || at + extra > text.size()) return std::nullopt;
  constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  char32_t c = lead & (0x3F >> extra);
  for (std::size_t k = 0; k < extra; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  at += extra;
  return c;
}

inline bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    if (!DecodeUtf8(text, at)) return false;
  }
  return true;
}

// The characters of Windows-1252 bytes 0x80 to 0x9F (U+FFFD: none).
inline constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

inline char32_t FromWindows1252(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? char32_t{kWindows1252High[byte - 0x80]} : char32_t{byte};
}

inline std::optional<char> ToWindows1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  if (c == 0xFFFD) return std::nullopt;
  for (unsigned byte = 0; byte < 32; ++byte) {
    if (kWindows1252High[byte] == c) return static_cast<char>(0x80 + byte);
  }
  return std::nullopt;
}

inline std::string Utf8FromWindows1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char byte : text) AppendUtf8(out, FromWindows1252(byte));
  return out;
}

inline std::string Windows1252FromUtf8(std::string_view text, bool* lossless = nullptr) {
  std::string out;
  out.reserve(text.size());
  bool whole = true;
  for (std::size_t at = 0; at < text.size();) {
    const std::optional<char32_t> c = DecodeUtf8(text, at);
    const std::optional<char> single = c ? ToWindows1252(*c) : std::nullopt;
    whole = whole && single.has_value();
    out += single.value_or('?');
  }
  if (lossless) *lossless = whole;
  return out;
}

}  // namespace platform
