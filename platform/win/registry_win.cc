// The registry on Windows: the system's own when no file is named, and the
// lock of a registry file.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

#include "platform/win/registry.h"

namespace platform {

namespace {

std::string Reason(LSTATUS status) { return std::system_category().message(static_cast<int>(status)); }

// An open key, closed when it goes.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (m_key) RegCloseKey(m_key);
  }
  HKEY* Out() { return &m_key; }
  HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

// The value of `name` in an open key, or nothing.
std::optional<RegistryValue> ValueOf(HKEY key, const std::string& name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  std::string bytes(size, '\0');
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  bytes.resize(size);
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, bytes.data(), sizeof number);
    return RegistryValue(std::uint32_t{number});
  }
  if (type == REG_SZ) {
    while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    return RegistryValue(bytes);
  }
  return RegistryValue(RegistryOtherValue{"type " + std::to_string(type)});
}

}  // namespace

std::filesystem::path DefaultRegistryPath() {
  if (const char* env = std::getenv("QUARN_REGISTRY"); env && *env) return env;
  return {};  // the system's registry
}

std::optional<RegistryValue> Registry::SystemRead(HKEY root, std::string_view key, std::string_view name) {
  Key open;
  if (RegOpenKeyExA(root, std::string(key).c_str(), 0, KEY_READ, open.Out()) != ERROR_SUCCESS) return std::nullopt;
  return ValueOf(open.Get(), std::string(name));
}

std::optional<RegistryValue> Registry::SystemWrite(HKEY root, std::string_view key, std::string_view name,
                                                   const RegistryValue& value, bool replaceOtherType) {
  Key open;
  const std::string path(key);
  if (const LSTATUS status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_READ | KEY_WRITE, nullptr, open.Out(), nullptr);
      status != ERROR_SUCCESS) {
    throw RegistryError("cannot open the key " + RootKeyName(root) + "\\" + path + " in the system's registry: " +
                        Reason(status));
  }
  const std::string valueName(name);
  if (const auto found = ValueOf(open.Get(), valueName); found && found->index() != value.index()) {
    if (!replaceOtherType) return found;
  }
  LSTATUS status = ERROR_SUCCESS;
  if (const auto* number = std::get_if<std::uint32_t>(&value)) {
    const DWORD dword = *number;
    status = RegSetValueExA(open.Get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword),
                            sizeof dword);
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    status = RegSetValueExA(open.Get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                            static_cast<DWORD>(text->size() + 1));
  } else {
    throw RegistryError("a value of another kind cannot be written to the system's registry");
  }
  if (status != ERROR_SUCCESS) {
    throw RegistryError("cannot write \"" + valueName + "\" under " + RootKeyName(root) + "\\" + path +
                        " in the system's registry: " + Reason(status));
  }
  return std::nullopt;
}

void Registry::SystemDelete(HKEY root, std::string_view key, std::string_view name) {
  Key open;
  if (RegOpenKeyExA(root, std::string(key).c_str(), 0, KEY_SET_VALUE, open.Out()) != ERROR_SUCCESS) return;
  RegDeleteValueA(open.Get(), std::string(name).c_str());
}

RegistryContents Registry::SystemReadAll() {
  RegistryContents contents;
  // Depth first through the product's part of the registry.
  std::vector<std::string> pending{"SOFTWARE\\Korvatec"};
  while (!pending.empty()) {
    const std::string path = pending.back();
    pending.pop_back();
    Key open;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, open.Out()) != ERROR_SUCCESS) continue;
    char name[16384];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(open.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      pending.push_back(path + "\\" + std::string(name, length));
    }
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      if (RegEnumValueA(open.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      const std::string valueName(name, length);
      if (auto value = ValueOf(open.Get(), valueName)) {
        contents["HKEY_LOCAL_MACHINE\\" + path][valueName] = std::move(*value);
      }
    }
  }
  return contents;
}

std::optional<std::string> ReadRegistryFile(const std::filesystem::path& file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const auto status = fs::status(file, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    throw RegistryError("cannot read the registry file " + file.string() + ": " + ec.message());
  }
  if (!fs::exists(status)) return std::nullopt;
  if (!fs::is_regular_file(status)) throw NotOrdinaryFileError(file, status.type());
  std::ifstream in(file, std::ios::binary);
  if (!in) throw RegistryError("cannot read the registry file " + file.string());
  std::string bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > kMaxRegistryFileBytes) {
      throw RegistryError("the registry file " + file.string() + " is larger than " +
                          std::to_string(kMaxRegistryFileBytes >> 20) +
                          " MB, far more than settings take; it has been left as it is");
    }
  }
  return bytes;
}

std::filesystem::path WriteRegistryTemp(const std::filesystem::path& target, const std::string& bytes,
                                        std::optional<std::filesystem::perms>) {
  // CREATE_NEW never opens an existing file or link; the name is random.
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    const std::filesystem::path name = target.string() + ".tmp-" + std::to_string(random());
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS && attempt < 100) continue;
      throw RegistryError("cannot write the registry file " + target.string() + " (is its folder writable?): " +
                          std::system_category().message(static_cast<int>(error)));
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) {
      DeleteFileW(name.c_str());
      throw RegistryError("cannot write the registry file " + target.string() + ": " +
                          std::system_category().message(static_cast<int>(error)));
    }
    return name;
  }
}

RegistryFileLock::RegistryFileLock(const std::filesystem::path& lockFile) : m_handle(-1) {
  HANDLE file = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw RegistryError("cannot lock the registry file: cannot open " + lockFile.string() + ": " +
                        std::system_category().message(static_cast<int>(GetLastError())));
  }
  OVERLAPPED whole{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    throw RegistryError("cannot lock the registry file " + lockFile.string() + ": " +
                        std::system_category().message(static_cast<int>(error)));
  }
  m_handle = reinterpret_cast<std::intptr_t>(file);
}

RegistryFileLock::~RegistryFileLock() {
  // Closing the handle releases the lock.
  if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

}  // namespace platform
