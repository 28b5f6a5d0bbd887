// The registry stand-in: HKEY_LOCAL_MACHINE kept in a text file.
//
// Contract:
//  - Values live under keys (backslash-separated, matched without regard
//    to case) and are 32-bit numbers (DWORD) or texts.
//  - The file is read afresh at every read, so another process's writes
//    are seen at once. A missing or empty file holds nothing.
//  - A write reads the file, changes one value and writes the whole file
//    to a temporary file in the same folder, then renames it into place:
//    every other value is kept, and a crash mid-write loses nothing.
//  - A file that cannot be parsed is damaged: reads and writes throw
//    RegistryError naming the file and line, and the file is never
//    replaced.
//  - Location: $QUARN_REGISTRY if set, else `registry.reg` in the user's
//    data folder for QuarnControl (see DefaultRegistryPath).
// The file format is that of a registry export:
//     [HKEY_LOCAL_MACHINE\SOFTWARE\Korvatec\Inlets\...\Configuration]
//     "NetBoxComms"=dword:00000000
//     "Path"="C:\\Temp"
// Thread safety: calls are serialised by an internal mutex. Writes from
// two processes at once are not merged (the last rename wins).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

struct HKEY__;
using HKEY = HKEY__*;
// The root keys this stand-in knows; only HKEY_LOCAL_MACHINE is used.
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});

namespace platform {

class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using RegistryValue = std::variant<std::uint32_t, std::string>;

// Full key ("HKEY_LOCAL_MACHINE\SOFTWARE\...") -> value name -> value.
using RegistryContents = std::map<std::string, std::map<std::string, RegistryValue>>;

// The root key's name, e.g. "HKEY_LOCAL_MACHINE"; throws RegistryError for
// an unknown root.
std::string RootKeyName(HKEY root);

// The default file: $QUARN_REGISTRY, else the per-user data folder.
std::filesystem::path DefaultRegistryPath();

// Splits "A\B\Name" into key "A\B" and value name "Name".
std::pair<std::string, std::string> SplitValuePath(std::string_view path);

class Registry {
 public:
  explicit Registry(std::filesystem::path file) : m_file(std::move(file)) {}

  // The process-wide registry at DefaultRegistryPath() (or the path set
  // for testing).
  static Registry& Get();
  // Points the process-wide registry at `file`; tests only.
  static void UseFileForTesting(const std::filesystem::path& file);

  std::filesystem::path FilePath() const;

  // The value, or nothing when it (or the file) does not exist.
  // Throws RegistryError when the file is damaged or unreadable.
  std::optional<RegistryValue> Read(HKEY root, std::string_view key, std::string_view name) const;
  // Throws RegistryError when the file is damaged or cannot be written.
  void Write(HKEY root, std::string_view key, std::string_view name, const RegistryValue& value);
  // Removes one value; absent values are ignored.
  void Delete(HKEY root, std::string_view key, std::string_view name);
  // Everything in the file. Throws RegistryError when damaged.
  RegistryContents ReadAll() const;

  // Parses and prints the file format (exposed for tests and tools).
  static RegistryContents Parse(std::string_view text, const std::string& fileName);
  static std::string Serialise(const RegistryContents& contents);

 private:
  RegistryContents Load() const;
  void Store(const RegistryContents& contents);

  std::filesystem::path m_file;
  mutable std::mutex m_mutex;
};

}  // namespace platform
