#include "platform/method/toml_errors.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

// The TOML parser's description of a syntax error, in the words of the
// rest of the checks: "Error while parsing table header: expected ']',
// saw '\n'" becomes "not valid TOML in a [table] header: expected ']',
// found the end of the line". Texts it does not know pass with only the
// parser's own names replaced.
std::string PlainParseError(std::string text) {
  static const std::pair<const char*, const char*> kScopes[] = {
      {"key-value pair", "a key = value line"}, {"table header", "a [table] header"},
      {"inline table", "an inline table"},     {"array", "an array"},
      {"root table", "the file"},               {"unicode scalar sequence", "an escaped character"},
      {"string", "a text"},                     {"literal string", "a text"},
      {"boolean", "true or false"},             {"date-time offset", "a date or time"},
      {"date-time", "a date or time"},          {"date", "a date or time"},
      {"time", "a date or time"}};
  static const std::pair<const char*, const char*> kWords[] = {
      {"Encountered invalid utf-8 sequence", "bytes that are not UTF-8 text (save the file as UTF-8)"},
      {"exceeded maximum nested value depth of", "arrays or tables nested more than"},
      {" (TOML_MAX_NESTED_VALUES)", " deep"},
      {"could not determine value type",
       "expected a value (a number, text in quotes, true or false, an array or an inline table)"},
      {"encountered end-of-file", "the file ends too early"},
      {"value-terminator", "a comma, a closing bracket or the end of the line"},
      {"bare key starting character or string delimiter", "a key (letters, digits, _ and -, or text in quotes)"},
      {"is not representable in 64 bits", "is too large for a number"},
      {"decimal digit", "a digit"},
      {"TAB (U+0009)", "tabs"},
      {"saw '\\n'", "found the end of the line"},
      {"saw ", "found "}};
  std::string where = "not valid TOML";
  static constexpr std::string_view kPrefix = "Error while parsing ";
  if (const std::size_t colon = text.find(": "); text.starts_with(kPrefix) && colon != std::string::npos) {
    const std::string scope = text.substr(kPrefix.size(), colon - kPrefix.size());
    const auto* known = std::find_if(std::begin(kScopes), std::end(kScopes),
                                     [&](const auto& s) { return scope == s.first; });
    // The kinds of number all read as "a number"; others as "a key", "a value".
    where += " in " + (known != std::end(kScopes)                      ? std::string(known->second)
                       : scope.find("integer") != std::string::npos ||
                               scope.find("floating-point") != std::string::npos
                           ? std::string("a number")
                           : "a " + scope);
    text.erase(0, colon + 2);
  }
  // "cannot redefine existing floating-point 'flow'": the name is enough.
  if (const std::size_t quote = text.find('\''); text.starts_with("cannot redefine") && quote != std::string::npos) {
    text = text.substr(quote) + " is given twice";
  }
  for (const auto& [parser, plain] : kWords) {
    if (const std::size_t at = text.find(parser); at != std::string::npos) {
      text.replace(at, std::string_view(parser).size(), plain);
    }
  }
  return where + ": " + text;
}
