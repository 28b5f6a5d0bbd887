// The method file on disk and the texts a user reads about its problems;
// the reading itself is in method_file.cc.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/inlet/inlet.h"
#include "platform/inlet/text.h"
#include "platform/method/method_file.h"

CString Utf8ToWindows1252(std::string_view text) { return CString(platform::Windows1252FromUtf8(text)); }

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

bool LoadMethodFile(const std::string& path, QuarnMethod& method, MethodFileProblems& problems,
                    MethodKeyLines* lines) {
  namespace fs = std::filesystem;
  // The system's own reason for a failure; never "Success".
  const auto reason = [](int error) {
    return error != 0 ? std::string(": ") + std::generic_category().message(error) : std::string();
  };
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
    problems.push_back({0, 0, "", "the file cannot be reached" + reason(ec.value())});
    return false;
  }
  if (!fs::exists(status)) {
    problems.push_back({0, 0, "", "the file does not exist"});
    return false;
  }
  if (fs::is_directory(status)) {
    problems.push_back({0, 0, "", "this is a folder, not a method file"});
    return false;
  }
  if (!fs::is_regular_file(status)) {
    problems.push_back({0, 0, "", "this is not a regular file"});
    return false;
  }
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!in) {
    problems.push_back({0, 0, "", "the file cannot be opened" + reason(errno)});
    return false;
  }
  // Read one byte past the limit to tell a file that is too large.
  std::string text(kMaxMethodFileBytes + 1, '\0');
  errno = 0;
  text.resize(std::fread(text.data(), 1, text.size(), in.get()));
  if (std::ferror(in.get())) {
    problems.push_back({0, 0, "", "the file cannot be read" + reason(errno)});
    return false;
  }
  if (text.size() > kMaxMethodFileBytes) {
    problems.push_back({0, 0, "", "expected a method file of at most " + std::to_string(kMaxMethodFileBytes) +
                                      " bytes; this one is larger"});
    return false;
  }
  QuarnMethod read;
  if (!ParseMethodText(text, read, problems, lines)) return false;
  read.SetFileName(CString(std::string_view(path)));
  method = read;
  return true;
}

std::string DescribeMethodFileProblem(const MethodFileProblem& problem) {
  std::string line;
  if (problem.line > 0) {
    line = "line " + std::to_string(problem.line);
    if (problem.column > 0) line += ", column " + std::to_string(problem.column);
  }
  if (!problem.key.empty()) line += (line.empty() ? "key '" : ", key '") + problem.key + "'";
  if (!line.empty()) line += ": ";
  return line + problem.text;
}

CString DescribeMethodFileProblems(const CString& path, const MethodFileProblems& problems) {
  std::string text = "The method file could not be read:\n" + path.str() + "\n";
  std::size_t more = 0;
  for (std::size_t i = 0; i < problems.size(); ++i) {
    if (i < kMaxShownProblems && problems[i].unlisted == 0) {
      text += "\n" + DescribeMethodFileProblem(problems[i]);
    } else {
      more += std::max<std::size_t>(problems[i].unlisted, 1);
    }
  }
  if (more > 0) text += "\n... and " + std::to_string(more) + (more == 1 ? " more problem" : " more problems");
  return CString(std::string_view(text));
}

int QuarnMethod::GetMethodFromDiskFile(const CString& fileName) {
  MethodFileProblems problems;
  if (LoadMethodFile(fileName.str(), *this, problems)) return 1;
  SendMessageBox(DescribeMethodFileProblems(fileName, problems), MB_ICONEXCLAMATION);
  return 0;
}
