#include "host/inputs/user_file.h"

#include <fstream>
#include <sstream>

#include "host/text/display_text.h"
#include "platform/method/toml_errors.h"

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

std::optional<toml::table> ParseUserToml(const std::string& text, const std::string& name, const char* what,
                                         std::vector<std::string>& problems) {
  try {
    return toml::parse(text);
  } catch (const toml::parse_error& error) {
    problems.push_back(name + ": line " + std::to_string(error.source().begin.line) + ": " +
                       EscapeControls(PlainParseError(std::string(error.description()))));
  } catch (const std::exception& error) {
    problems.push_back(name + ": the " + what + " could not be read: " + EscapeControls(error.what()));
  }
  return std::nullopt;
}

}  // namespace host
