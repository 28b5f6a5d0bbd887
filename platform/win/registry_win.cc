// Where the registry file lives on Windows.
#include <cstdlib>

#include "platform/win/registry.h"

namespace platform {

std::filesystem::path DefaultRegistryPath() {
  if (const char* env = std::getenv("QUARN_REGISTRY"); env && *env) return env;
  if (const char* appData = std::getenv("APPDATA"); appData && *appData) {
    return std::filesystem::path(appData) / "QuarnControl" / "registry.reg";
  }
  return std::filesystem::path("quarncontrol-registry.reg");
}

}  // namespace platform
