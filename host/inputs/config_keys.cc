#include "host/inputs/config_keys.h"

#include "platform/inlet/inlet.h"
#include "platform/tavix/tavix.h"

namespace host {

const std::vector<ConfigKey>& ConfigKeys() {
  static const std::vector<ConfigKey> keys = {
      {"transport", std::string(kHostFrameworkKey) + "\\" + kQuarnInletKey + "\\" + kTransportFlagName, true,
       "how devices reach the instruments: direct (0) or server (non-zero)"},
      {"oven-make", std::string(kHostFrameworkKey) + "\\" + kInstrumentMakesKey + "\\" + kOvenDevice, false,
       "the oven make recorded for the host while a method uses the oven"},
      {"server-repository", kTavixRepositoryPath, false,
       "the instrument server's repository folder"},
      {"server-registration", kTavixServerAppIdPath, false,
       "the instrument server's registration (present once it has registered)"},
  };
  return keys;
}

const ConfigKey* FindConfigKey(const std::string& name) {
  for (const auto& key : ConfigKeys()) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

}  // namespace host
