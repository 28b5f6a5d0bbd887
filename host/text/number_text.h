// Numbers typed by a user (command-line options, settings), read as a
// person means them, and numbers written for a person to read.
//
// Contract: digits are always decimal ("010" is 10); a sign is allowed, a
// blank, a hexadecimal number ("0x10"), nan, inf and their other
// spellings are not. A decimal number may have a point and an exponent
// ("2.5", "1e3"), never a comma. On failure the result holds the message,
// naming `what` ("--vial") and what was expected, and no value.
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>

namespace host {

template <class T>
struct NumberRead {
  std::optional<T> value;
  std::string error;  // empty when `value` is set
  std::string why;    // the error without what was expected: "'abc' is not a number"
};

NumberRead<long long> ReadWholeNumber(const std::string& text, const std::string& what, long long lo,
                                      long long hi);
// `loExclusive`: the value must be above `lo` rather than at least `lo`.
NumberRead<double> ReadDecimalNumber(const std::string& text, const std::string& what, double lo, double hi,
                                     bool loExclusive);

// What "%.*f" writes ("12.3" for 12.345 and 1), the same in every build
// and without printf's cost (a long run formats millions); a value that
// rounds to zero is never "-0.0".
std::string Fixed(double value, int decimals);
// The same appended to `out`, for the many numbers of a file's rows.
void AppendFixed(std::string& out, double value, int decimals);

// Writes `value` with `decimals` decimals into [first, last) exactly as
// std::to_chars(first, last, value, std::chars_format::fixed, decimals)
// does ("-0.0" included) and returns the end; `last - first` must hold
// the result (a value below 1e15 takes at most 17 characters plus its
// decimals). Where the product with 10^decimals leaves the rounding in no
// doubt (almost always) the digits come from one integer, about ten times
// faster than the exact conversion, which is used otherwise.
char* WriteFixed(char* first, char* last, double value, int decimals);

// A volume in µl as every output writes it: two decimals, or up to four
// where the value has them ("5.00", "0.0015"), so no output rounds away
// what another shows.
std::string VolumeText(double microlitres);

}  // namespace host
