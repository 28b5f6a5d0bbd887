// Method files for tests: a small valid method and a writer.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace testing_support {

// The smallest method a user could write: the pump's required keys.
inline constexpr std::string_view kMinimalMethod =
    "[pump]\n"
    "flow = 1.0\n"
    "max_pressure = 400\n"
    "stop_time = 10\n";

// Writes `text` byte for byte to `path` (folders created as needed).
inline void WriteTextFile(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace testing_support
