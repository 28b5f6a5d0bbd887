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
#include "platform/method/method_file.h"

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
  // Read one byte past the limit to tell a file that is too large; in
  // pieces, so that a method of a few kilobytes (read for every run) costs
  // no zeroed megabyte.
  constexpr std::size_t kPieceBytes = 16 * 1024;
  std::string text;
  errno = 0;
  while (text.size() <= kMaxMethodFileBytes && !std::feof(in.get()) && !std::ferror(in.get())) {
    const std::size_t at = text.size();
    text.resize(std::min(at + kPieceBytes, kMaxMethodFileBytes + 1));
    text.resize(at + std::fread(text.data() + at, 1, text.size() - at, in.get()));
  }
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
