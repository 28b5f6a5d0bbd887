// The registry values the plug-in uses, under names a user can type.
//
// Contract: `quarn-host config get|set KEY [VALUE]` accepts exactly these
// keys. Numbers are DWORDs, the rest texts. Pure data; any thread.
#pragma once

#include <string>
#include <vector>

namespace host {

struct ConfigKey {
  std::string name;         // what the user types
  std::string fullPath;     // from HKEY_LOCAL_MACHINE; the last part names the value
  bool isNumber;
  std::string description;
};

const std::vector<ConfigKey>& ConfigKeys();
const ConfigKey* FindConfigKey(const std::string& name);

}  // namespace host
