#include "host/inputs/user_file.h"

#include <fstream>
#include <sstream>

#include "host/text/display_text.h"

namespace host {

std::optional<std::string> ReadUserFile(const std::filesystem::path& file, std::uintmax_t maxBytes, const char* what,
                                        std::vector<std::string>& problems) {
  const std::string name = EscapeControls(file.string());
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (!std::filesystem::exists(status)) {
    problems.push_back(name + ": there is no such file");
    return std::nullopt;
  }
  if (!std::filesystem::is_regular_file(status)) {
    problems.push_back(name + ": not an ordinary file");
    return std::nullopt;
  }
  if (std::filesystem::file_size(file, ec) > maxBytes) {
    problems.push_back(name + ": larger than " + std::to_string(maxBytes >> 20) + " MB; that is not " + what);
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    problems.push_back(name + ": cannot be read");
    return std::nullopt;
  }
  return text.str();
}

}  // namespace host
