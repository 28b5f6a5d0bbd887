#include "host/text/number_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace host {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [sign] digits [. digits] [e [sign] digits], or with `whole` only
// [sign] digits. Returns the position after the number, or 0.
std::size_t ScanNumber(const std::string& text, bool whole) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t digitsStart = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  std::size_t digits = i - digitsStart;
  if (!whole && i < text.size() && text[i] == '.') {
    const std::size_t fractionStart = ++i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    digits += i - fractionStart;
  }
  if (digits == 0) return 0;
  if (!whole && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const std::size_t expStart = j;
    while (j < text.size() && IsDigit(text[j])) ++j;
    if (j > expStart) i = j;
  }
  return i;
}

std::string Shown(const std::string& text) {
  std::string shown;
  for (unsigned char c : text.substr(0, 40)) shown += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  return "'" + shown + (text.size() > 40 ? "...'" : "'");
}

// Why `text` is not a number of the kind wanted.
std::string WhyNot(const std::string& text, bool whole) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  const std::string bare = lower.empty() || (lower[0] != '+' && lower[0] != '-') ? lower : lower.substr(1);
  if (bare.rfind("nan", 0) == 0 || bare.rfind("inf", 0) == 0) return "not a number (nan and inf are never accepted)";
  if (bare.rfind("0x", 0) == 0) return "not a decimal number (numbers are read in decimal; 0x is not accepted)";
  if (text.find(',') != std::string::npos && !whole) return "not a number (write decimals with a point: 2.5)";
  const std::size_t end = ScanNumber(text, false);
  if (whole && end != 0 && end == text.size()) return "not a whole number";
  return "not a number";
}

}  // namespace

NumberRead<long long> ReadWholeNumber(const std::string& text, const std::string& what, long long lo,
                                      long long hi) {
  const std::string expected = "expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
  // A whole number in decimal form (1e3, 10.0) is that number.
  if (!text.empty() && ScanNumber(text, true) != text.size() && ScanNumber(text, false) == text.size()) {
    const double value = std::strtod(text.c_str(), nullptr);
    if (value == std::trunc(value)) {
      if (value >= static_cast<double>(lo) && value <= static_cast<double>(hi)) {
        return {static_cast<long long>(value), "", ""};
      }
      return {std::nullopt, what + ": " + expected + ", found " + Shown(text), Shown(text) + " is out of range"};
    }
  }
  if (text.empty() || ScanNumber(text, true) != text.size()) {
    const std::string why = Shown(text) + " is " + WhyNot(text, true);
    return {std::nullopt, what + ": " + why + "; " + expected, why};
  }
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < lo || value > hi) {
    return {std::nullopt, what + ": " + expected + ", found " + Shown(text), Shown(text) + " is out of range"};
  }
  return {value, "", ""};
}

NumberRead<double> ReadDecimalNumber(const std::string& text, const std::string& what, double lo, double hi,
                                     bool loExclusive) {
  char bound[64];
  std::snprintf(bound, sizeof bound, "%g", lo);
  std::string expected = std::string("expected a number ") + (loExclusive ? "above " : "from ") + bound;
  std::snprintf(bound, sizeof bound, "%g", hi);
  expected += (loExclusive ? " and at most " : " to ") + std::string(bound);
  if (text.empty() || ScanNumber(text, false) != text.size()) {
    const std::string why = Shown(text) + " is " + WhyNot(text, false);
    return {std::nullopt, what + ": " + why + "; " + expected, why};
  }
  const double value = std::strtod(text.c_str(), nullptr);
  if (!(loExclusive ? value > lo : value >= lo) || !(value <= hi)) {
    return {std::nullopt, what + ": " + expected + ", found " + Shown(text), Shown(text) + " is out of range"};
  }
  return {value, "", ""};
}

namespace {

// "00" to "99", for writing two digits at once.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace

char* WriteFixed(char* first, char* last, double value, int decimals) {
  static constexpr double kScale[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  if (decimals >= 0 && decimals <= 9) {
    // 10^decimals is exact, so the product is within half a unit in its
    // last place of the exact one: unless its fraction is that close to
    // one half, both round to the same integer.
    const double magnitude = std::fabs(value * kScale[decimals]);
    if (magnitude < 1e15) {
      // Truncation is the floor here (not negative, and far within the
      // integer's range), without a call into the maths library.
      auto units = static_cast<unsigned long long>(magnitude);
      const double fraction = magnitude - static_cast<double>(units);
      if (std::fabs(fraction - 0.5) > magnitude * 1e-13 + 1e-300) {
        units += fraction > 0.5 ? 1 : 0;
        // Written backwards to the middle, so that a copy of a fixed 32
        // bytes from the first digit stays inside.
        char digits[64];
        char* const end = digits + 32;
        char* p = end;
        int left = decimals;
        // Two digits a step where the decimals allow.
        for (; left >= 2; left -= 2, units /= 100) {
          const auto pair = static_cast<unsigned>(units % 100);
          p -= 2;
          std::memcpy(p, kDigitPairs + 2 * pair, 2);
        }
        if (left > 0) {
          *--p = static_cast<char>('0' + units % 10);
          units /= 10;
        }
        if (decimals > 0) *--p = '.';
        for (; units >= 100; units /= 100) {
          const auto pair = static_cast<unsigned>(units % 100);
          p -= 2;
          std::memcpy(p, kDigitPairs + 2 * pair, 2);
        }
        if (units >= 10) {
          p -= 2;
          std::memcpy(p, kDigitPairs + 2 * units, 2);
        } else {
          *--p = static_cast<char>('0' + units);
        }
        if (std::signbit(value)) *--p = '-';
        const auto length = end - p;
        if (last - first < length) return last;
        if (last - first >= 32) {
          // A copy of a known size is a few moves, not a call.
          std::memcpy(first, p, 32);
          return first + length;
        }
        return std::copy(p, end, first);
      }
    }
  }
  return std::to_chars(first, last, value, std::chars_format::fixed, decimals).ptr;
}

void AppendFixed(std::string& out, double value, int decimals) {
  char buf[400];  // the longest double in fixed notation, with its decimals
  buf[0] = '\0';
  char* const end = WriteFixed(buf, buf + sizeof buf, value, decimals);
  // A reading a hair below 0 is 0, not "-0.0".
  const bool negativeZero =
      buf[0] == '-' && std::string_view(buf, end).find_first_not_of("-0.") == std::string_view::npos;
  out.append(negativeZero ? buf + 1 : buf, end);
}

std::string Fixed(double value, int decimals) {
  std::string text;
  AppendFixed(text, value, decimals);
  return text;
}

std::string VolumeText(double microlitres) {
  for (int decimals = 2; decimals < 4; ++decimals) {
    const double scale = std::pow(10.0, decimals);
    if (std::fabs(std::round(microlitres * scale) / scale - microlitres) < 1e-9) return Fixed(microlitres, decimals);
  }
  return Fixed(microlitres, 4);
}

}  // namespace host
