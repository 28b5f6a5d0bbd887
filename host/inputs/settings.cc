#include "host/inputs/settings.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "host/inputs/config_keys.h"
#include "platform/inlet/inlet.h"
#include "platform/method/method_file.h"
#include "platform/win/registry.h"

namespace host {

std::string ResolveMethodPath(const std::string& given, std::string* note) {
  CString name(given.c_str());
  AddMethodFileExtension("Quarn900", name);
  // Anything but a folder at the path typed is taken as the file meant
  // (a broken link or a link loop then gets its own message).
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(given, ec);
  if (!given.empty() && !ec && std::filesystem::exists(status) &&
      !std::filesystem::is_directory(std::filesystem::status(given, ec))) {
    const std::string path = given.find_first_of("/\\") == std::string::npos ? "./" + given : given;
    std::error_code other;
    if (note && name.str() != given && std::filesystem::is_regular_file(name.str(), other) &&
        !std::filesystem::equivalent(path, name.str(), other)) {
      *note = "using the file " + path + "; the method " + name.str() + " is not used (a file as given wins)";
    }
    return path;
  }
  return name.str();
}

Transport ConfiguredTransport() {
  int value = 0;
  const ConfigKey* key = FindConfigKey("transport");
  if (key && ReadRegistryFullPath(key->fullPath.c_str(), value, HKEY_LOCAL_MACHINE) && value != 0) {
    return Transport::kServer;
  }
  return Transport::kDirect;
}

std::string SettingsProblem() {
  try {
    platform::Registry::Get().ReadAll();
    return "";
  } catch (const platform::RegistryError& e) {
    return e.what();
  }
}

void HoldTransport(Transport transport) {
  const auto [key, name] = platform::SplitValuePath(FindConfigKey("transport")->fullPath);
  platform::Registry::Get().HoldForProcess(HKEY_LOCAL_MACHINE, key, name,
                                           std::uint32_t{transport == Transport::kServer ? 1u : 0u});
}

}  // namespace host
