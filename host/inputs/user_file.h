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

namespace host {

// The whole of `file`; nullopt, with the reason added to `problems`, when
// it is missing, not an ordinary file, larger than `maxBytes` (then it is
// not `what`, e.g. "a sample list") or cannot be read.
std::optional<std::string> ReadUserFile(const std::filesystem::path& file, std::uintmax_t maxBytes, const char* what,
                                        std::vector<std::string>& problems);

}  // namespace host
