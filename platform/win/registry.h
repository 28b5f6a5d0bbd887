// The registry stand-in: HKEY_LOCAL_MACHINE kept in a text file.
//
// Contract:
//  - Values live under keys (backslash-separated, matched without regard
//    to case) and are 32-bit numbers (DWORD) or texts. Values of the other
//    kinds a registry export holds (hex:..., hex(2):...) are kept as they
//    are written and never read as a number or text.
//  - The file is read afresh at every read, so another process's writes
//    are seen at once. A missing or empty file holds nothing. Only an
//    ordinary file (after following links) is read or replaced, and at
//    most kMaxRegistryFileBytes of it: a device, a FIFO or a folder at
//    the path is refused as it is, never read, waited on or replaced.
//  - A write takes a lock on `<file>.lock` beside the file (shared by every
//    process), reads the file again under the lock, changes one value and
//    writes the whole file to a temporary file in the same folder, which
//    then replaces it: every other value is kept, also when processes
//    write at once, and a crash mid-write loses nothing. The temporary
//    file has a name nobody can predict and is created new (never an
//    existing file, never through a link); the lock file is never opened
//    through a link either. The file keeps
//    its permissions; a symbolic link keeps pointing where it did (its
//    target is replaced).
//  - Nothing is changed, and RegistryError says why, when: the file cannot
//    be parsed (naming the line), is read-only, cannot be reached (a link
//    loop, with the system's reason), a text holds a control character
//    (the file keeps one value a line), or the value to replace is of the
//    other type and the caller did not ask to replace it.
//  - Reading accepts what a registry editor exports: the "Windows Registry
//    Editor Version 5.00" (or REGEDIT4) line, CRLF line ends, a UTF-8 or
//    UTF-16LE byte order mark, "@" for a key's default value and values
//    continued on the next line after a backslash.
//  - Location: $QUARN_REGISTRY if set, else `registry.reg` in the user's
//    data folder for QuarnControl (see DefaultRegistryPath). A write
//    creates the data folder when it is missing; the folder of a file the
//    user named must exist.
//  - On Windows, without $QUARN_REGISTRY, the registry is the system's own
//    (an empty file path): values are read and written with the system's
//    functions, dwords as REG_DWORD and texts as REG_SZ, and the values of
//    other kinds are reported by their type number ("type 3"). The same
//    refusals apply, except that there is no file to lock or damage.
//    ReadAll lists the keys under HKEY_LOCAL_MACHINE\SOFTWARE\Korvatec.
//  - A value may be held for this process alone (HoldForProcess): Read
//    returns it, whatever the file or the system's registry holds, and a
//    Write or Delete of it changes only what this process sees. Other
//    processes and the file never see it.
// The file format is that of a registry export:
//     [HKEY_LOCAL_MACHINE\SOFTWARE\Korvatec\Inlets\...\Configuration]
//     "NetBoxComms"=dword:00000000
//     "Path"="C:\\Temp"
// Thread safety: calls are serialised by an internal mutex, and writes
// across processes by the lock file.
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

#if defined(_WIN32)
#include "platform/win/system_headers.h"  // HKEY and the root keys
#else
struct HKEY__;
using HKEY = HKEY__*;
// The root keys this stand-in knows; only HKEY_LOCAL_MACHINE is used.
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});
#endif

namespace platform {

class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value of a kind other than dword and text, as written after "=".
struct RegistryOtherValue {
  std::string text;
  bool operator==(const RegistryOtherValue&) const = default;
};

using RegistryValue = std::variant<std::uint32_t, std::string, RegistryOtherValue>;

// Full key ("HKEY_LOCAL_MACHINE\SOFTWARE\...") -> value name -> value.
using RegistryContents = std::map<std::string, std::map<std::string, RegistryValue>>;

// The root key's name, e.g. "HKEY_LOCAL_MACHINE"; throws RegistryError for
// an unknown root.
std::string RootKeyName(HKEY root);

// The default file: $QUARN_REGISTRY, else the per-user data folder.
std::filesystem::path DefaultRegistryPath();

// Splits "A\B\Name" into key "A\B" and value name "Name".
std::pair<std::string, std::string> SplitValuePath(std::string_view path);

// Holds an exclusive lock on a lock file for its lifetime, shared with
// every process that locks the same file. Throws RegistryError (with the
// system's reason) when the lock file cannot be opened or locked.
class RegistryFileLock {
 public:
  explicit RegistryFileLock(const std::filesystem::path& lockFile);
  ~RegistryFileLock();
  RegistryFileLock(const RegistryFileLock&) = delete;
  RegistryFileLock& operator=(const RegistryFileLock&) = delete;

 private:
  std::intptr_t m_handle;
};

// The system's text for an error number, never "Success": "" for 0.
std::string SystemReason(int error);

// The largest settings file read; a larger one is refused.
inline constexpr std::uintmax_t kMaxRegistryFileBytes = 16u << 20;

// Between the portable part and each system's file access (registry_*.cc):
//  - ReadRegistryFile: the whole file, or nothing when there is none;
//    throws RegistryError for what is not an ordinary file, a file over
//    kMaxRegistryFileBytes and a file that cannot be read.
//  - WriteRegistryTemp: writes `bytes` to a new file in `target`'s folder
//    with a name nobody can predict (created exclusively, never through
//    a link), with `perms` when given, and returns its path; throws
//    RegistryError (nothing left behind) when it cannot.
//  - NotOrdinaryFileError: the refusal of a path that is not an ordinary
//    file, naming what it is.
std::optional<std::string> ReadRegistryFile(const std::filesystem::path& file);
std::filesystem::path WriteRegistryTemp(const std::filesystem::path& target, const std::string& bytes,
                                        std::optional<std::filesystem::perms> perms);
RegistryError NotOrdinaryFileError(const std::filesystem::path& file, std::filesystem::file_type type);

class Registry {
 public:
  explicit Registry(std::filesystem::path file) : m_file(std::move(file)) {}

  // The process-wide registry at DefaultRegistryPath() (or the path set
  // for testing).
  static Registry& Get();
  // Points the process-wide registry at `file`; tests only. On Windows it
  // also sets QUARN_REGISTRY, so that programs started from here share it.
  static void UseFileForTesting(const std::filesystem::path& file);

  // The settings file; empty for the system's registry (Windows only).
  std::filesystem::path FilePath() const;
  // Where the settings are, as a user reads it: the file's path, or "the
  // system's registry".
  std::string Place() const;

  // The value, or nothing when it (or the file) does not exist.
  // Throws RegistryError when the file is damaged or unreadable.
  std::optional<RegistryValue> Read(HKEY root, std::string_view key, std::string_view name) const;
  // Throws RegistryError when the file is damaged or cannot be written,
  // and when the value is of the other type unless `replaceOtherType`.
  void Write(HKEY root, std::string_view key, std::string_view name, const RegistryValue& value,
             bool replaceOtherType = false);
  // What is wrong when a value was found but is not of the type wanted:
  // the same text for a refused read and a refused write.
  std::string TypeMismatch(HKEY root, std::string_view key, std::string_view name, const RegistryValue& found) const;
  // Removes one value; absent values are ignored.
  void Delete(HKEY root, std::string_view key, std::string_view name);
  // Holds `value` for this process alone (see above); nothing stops
  // holding it again.
  void HoldForProcess(HKEY root, std::string_view key, std::string_view name, std::optional<RegistryValue> value);
  // Everything in the file. Throws RegistryError when damaged.
  RegistryContents ReadAll() const;

  // Parses and prints the file format (exposed for tests and tools).
  static RegistryContents Parse(std::string_view text, const std::string& fileName);
  static std::string Serialise(const RegistryContents& contents);

 private:
  RegistryContents Load() const;
#if defined(_WIN32)
  // The system's registry (m_file empty).
  static std::optional<RegistryValue> SystemRead(HKEY root, std::string_view key, std::string_view name);
  // Writes the value; when a value of the other type is there and may not
  // be replaced, writes nothing and returns it.
  static std::optional<RegistryValue> SystemWrite(HKEY root, std::string_view key, std::string_view name,
                                                  const RegistryValue& value, bool replaceOtherType);
  static void SystemDelete(HKEY root, std::string_view key, std::string_view name);
  static RegistryContents SystemReadAll();
#endif
  // The file a write replaces: m_file with its symbolic links followed.
  std::filesystem::path WriteTarget() const;
  // Reads, changes and stores the file under the lock.
  template <class Change>
  void Modify(Change change);
  void Store(const std::filesystem::path& target, const RegistryContents& contents);

  std::filesystem::path m_file;
  // Whether a write may create the file's folder: only for the per-user
  // default, never for a path the user named.
  bool m_createFolder = false;
  // The values held for this process, by full key and name in lower case.
  std::map<std::string, RegistryValue> m_held;
  mutable std::mutex m_mutex;
};

}  // namespace platform
