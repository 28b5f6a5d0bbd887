// Reading a file the user names (a sample list, a tray file): the checks
// every such file gets before it is parsed, with their problems in the
// words the user sees.
// Pure apart from reading the file; any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/method/toml.h"

namespace host {

// The whole of `file`; nullopt, with the reason added to `problems`, when
// it is missing, not an ordinary file, larger than `maxBytes` (then it is
// not `what`, e.g. "a sample list") or cannot be read.
std::optional<std::string> ReadUserFile(const std::filesystem::path& file, std::uintmax_t maxBytes, const char* what,
                                        std::vector<std::string>& problems);

// `text` (the file `name`) read as TOML; nullopt, with the problem added
// to `problems` ("tray.toml: line 3: ..." for a syntax error, else "tray.toml:
// the `what` could not be read: ..."), when it is not.
std::optional<toml::table> ParseUserToml(const std::string& text, const std::string& name, const char* what,
                                         std::vector<std::string>& problems);

}  // namespace host
