// `quarn-host config get|set`.
//
// The settings file is read and written through the registry stand-in
// directly, so that what it holds is shown as it is: a value of the wrong
// type is named, not shown as unset, and a damaged or read-only file is
// one clear error.
#include <cstdio>
#include <optional>
#include <string>

#include "host/cli/commands.h"
#include "host/inputs/config_keys.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"
#include "platform/method/method_file.h"
#include "platform/win/registry.h"

namespace host {

namespace {

std::string KnownKeys() {
  std::string list;
  for (const auto& key : ConfigKeys()) list += (list.empty() ? "" : ", ") + key.name;
  return list;
}

std::string SettingsFile() { return platform::Registry::Get().Place(); }

std::optional<platform::RegistryValue> ReadSetting(const ConfigKey& key) {
  const auto [path, name] = platform::SplitValuePath(key.fullPath);
  return platform::Registry::Get().Read(HKEY_LOCAL_MACHINE, path, name);
}

// The value as `config get` shows it; `wrongType` tells a value of the
// other type.
std::string Shown(const ConfigKey& key, const platform::RegistryValue& value, bool listing, bool& wrongType) {
  wrongType = false;
  if (const auto* number = std::get_if<std::uint32_t>(&value); number && key.isNumber) {
    const int n = static_cast<int>(*number);
    if (key.name == "transport" && !listing) {
      return std::string(n ? "server" : "direct") + " (" + std::to_string(n) + ")";
    }
    return std::to_string(n);
  }
  if (const auto* text = std::get_if<std::string>(&value); text && !key.isNumber) {
    return listing ? "\"" + Utf8FromWindows1252(*text) + "\"" : Utf8FromWindows1252(*text);
  }
  wrongType = true;
  const auto [path, name] = platform::SplitValuePath(key.fullPath);
  return platform::Registry::Get().TypeMismatch(HKEY_LOCAL_MACHINE, path, name, value);
}

}  // namespace

int ConfigGetCommand(const std::string& name, TerminalUi& ui) {
  try {
    if (name.empty() || name == "all") {
      bool anyWrong = false;
      for (const auto& key : ConfigKeys()) {
        const auto value = ReadSetting(key);
        bool wrongType = false;
        const std::string shown = value ? Shown(key, *value, true, wrongType) : "(not set)";
        anyWrong |= wrongType;
        std::printf("%-20s %s\n", key.name.c_str(), wrongType ? "(wrong type; see below)" : shown.c_str());
        if (wrongType) std::fprintf(stderr, "quarn-host: warning: %s\n", shown.c_str());
      }
      std::printf("\nsettings file: %s\n", SettingsFile().c_str());
      return anyWrong ? 1 : 0;
    }
    const ConfigKey* key = FindConfigKey(name);
    if (!key) {
      ui.Failure("unknown setting '" + name + "'; known settings: " + KnownKeys());
      return 2;
    }
    const auto value = ReadSetting(*key);
    if (!value) {
      ui.Failure("'" + name + "' is not set (in " + SettingsFile() + ")");
      return 1;
    }
    bool wrongType = false;
    const std::string shown = Shown(*key, *value, false, wrongType);
    if (wrongType) {
      ui.Failure(shown);
      return 1;
    }
    std::printf("%s\n", shown.c_str());
    return 0;
  } catch (const platform::RegistryError& e) {
    ui.Failure(e.what());
    return 1;
  }
}

int ConfigSetCommand(const std::string& name, const std::string& text, TerminalUi& ui) {
  const ConfigKey* key = FindConfigKey(name);
  if (!key) {
    ui.Failure("unknown setting '" + name + "'; known settings: " + KnownKeys());
    return 2;
  }
  platform::RegistryValue value;
  if (key->isNumber) {
    if (name == "transport" && (text == "direct" || text == "server")) {
      value = std::uint32_t{text == "server" ? 1u : 0u};
    } else {
      const auto read = ReadWholeNumber(text, "'" + name + "'", 0, 0x7FFFFFFF);
      if (!read.value) {
        ui.Failure(name == "transport" ? "'transport' takes direct, server or a whole number from 0 to 2147483647: " +
                                             read.why
                                       : read.error);
        return 1;
      }
      value = static_cast<std::uint32_t>(*read.value);
    }
  } else {
    for (unsigned char c : text) {
      if (c < 0x20 || c == 0x7F) {
        ui.Failure("'" + name + "' cannot hold a line break, a tab or another control character; nothing was changed");
        return 1;
      }
    }
    // The value holds single-byte text (Windows-1252, Western European):
    // what it cannot hold is refused, not changed.
    bool lossless = false;
    value = platform::Windows1252FromUtf8(text, &lossless);
    if (!lossless) {
      ui.Failure("'" + name + "' can hold only the characters of the Windows-1252 code page (Western European "
                 "letters, digits and signs); '" + EscapeControls(text) +
                 "' holds others (or is not UTF-8); nothing was changed");
      return 1;
    }
  }
  try {
    const auto [path, valueName] = platform::SplitValuePath(key->fullPath);
    platform::Registry& registry = platform::Registry::Get();
    // Setting a value on purpose replaces one of the wrong type; say so.
    const auto before = registry.Read(HKEY_LOCAL_MACHINE, path, valueName);
    registry.Write(HKEY_LOCAL_MACHINE, path, valueName, value, true);
    if (before && before->index() != value.index()) {
      std::fprintf(stderr, "quarn-host: note: '%s' held a value of another type before; it now holds %s\n",
                   name.c_str(), key->isNumber ? "a number" : "text");
    }
  } catch (const platform::RegistryError& e) {
    ui.Failure(std::string("'") + name + "' was not changed: " + e.what());
    return 1;
  }
  return 0;
}

}  // namespace host
