// Where the registry file lives on POSIX systems.
#include <cstdlib>

#include "platform/win/registry.h"

namespace platform {

std::filesystem::path DefaultRegistryPath() {
  if (const char* env = std::getenv("QUARN_REGISTRY"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::filesystem::path(xdg) / "quarncontrol" / "registry.reg";
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    return std::filesystem::path(home) / ".local" / "share" / "quarncontrol" / "registry.reg";
  }
  return std::filesystem::path("quarncontrol-registry.reg");
}

}  // namespace platform
