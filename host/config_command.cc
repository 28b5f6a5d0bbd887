// `quarn-host config get|set`.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/commands.h"
#include "host/config_keys.h"
#include "platform/inlet/inlet.h"

namespace host {

namespace {

std::string KnownKeys() {
  std::string list;
  for (const auto& key : ConfigKeys()) list += (list.empty() ? "" : ", ") + key.name;
  return list;
}

}  // namespace

int ConfigGetCommand(const std::string& name, TerminalUi& ui) {
  if (name.empty() || name == "all") {
    for (const auto& key : ConfigKeys()) {
      std::printf("%-20s ", key.name.c_str());
      if (key.isNumber) {
        int value = 0;
        if (ReadRegistryFullPath(key.fullPath.c_str(), value, HKEY_LOCAL_MACHINE)) {
          std::printf("%d\n", value);
        } else {
          std::printf("(not set)\n");
        }
      } else {
        CString value;
        if (ReadRegistryFullPath(key.fullPath.c_str(), value, HKEY_LOCAL_MACHINE)) {
          std::printf("\"%s\"\n", value.GetString());
        } else {
          std::printf("(not set)\n");
        }
      }
    }
    std::printf("\nsettings file: %s\n", platform::Registry::Get().FilePath().string().c_str());
    return 0;
  }
  const ConfigKey* key = FindConfigKey(name);
  if (!key) {
    ui.Failure("unknown setting '" + name + "'; known settings: " + KnownKeys());
    return 1;
  }
  if (key->isNumber) {
    int value = 0;
    if (!ReadRegistryFullPath(key->fullPath.c_str(), value, HKEY_LOCAL_MACHINE)) {
      ui.Failure("'" + name + "' is not set (in " + platform::Registry::Get().FilePath().string() + ")");
      return 1;
    }
    if (name == "transport") {
      std::printf("%s (%d)\n", value ? "server" : "direct", value);
    } else {
      std::printf("%d\n", value);
    }
    return 0;
  }
  CString value;
  if (!ReadRegistryFullPath(key->fullPath.c_str(), value, HKEY_LOCAL_MACHINE)) {
    ui.Failure("'" + name + "' is not set (in " + platform::Registry::Get().FilePath().string() + ")");
    return 1;
  }
  std::printf("%s\n", value.GetString());
  return 0;
}

int ConfigSetCommand(const std::string& name, const std::string& text, TerminalUi& ui) {
  const ConfigKey* key = FindConfigKey(name);
  if (!key) {
    ui.Failure("unknown setting '" + name + "'; known settings: " + KnownKeys());
    return 1;
  }
  int ok = 0;
  if (key->isNumber) {
    long value = 0;
    if (name == "transport" && text == "direct") {
      value = 0;
    } else if (name == "transport" && text == "server") {
      value = 1;
    } else {
      char* end = nullptr;
      value = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || value < 0 || value > 0x7FFFFFFF) {
        ui.Failure("'" + name + "' takes " + (name == "transport" ? "direct, server or " : "") +
                   "a whole number from 0 to 2147483647, not '" + text + "'");
        return 1;
      }
    }
    ok = WriteRegistryFullPath(key->fullPath.c_str(), static_cast<int>(value), HKEY_LOCAL_MACHINE);
  } else {
    ok = WriteRegistryFullPath(key->fullPath.c_str(), text.c_str(), HKEY_LOCAL_MACHINE);
  }
  if (!ok) {
    ui.Failure("could not write '" + name + "' to " + platform::Registry::Get().FilePath().string());
    return 1;
  }
  return 0;
}

}  // namespace host
