// TavixServer.exe: the stand-in for the instrument server's own program,
// as far as the plug-in runs it. The simulated server itself lives in the
// plug-in's process (sim/simulated_server.h); this program only registers
// and unregisters the server, which the plug-in checks through one
// registry value.
//
//   TavixServer.exe /RegServer     records the server's AppID value; exit 0
//   TavixServer.exe /UnregServer   removes it; exit 0
// The switch is matched without regard to case and may start with - as
// well. Anything else prints the usage to stderr and exits 2; a registry
// that cannot be written prints why and exits 1. The registry is the
// stand-in's file ($QUARN_REGISTRY, else the user's default), which the
// plug-in hands on to the programs it starts.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/tavix/tavix.h"
#include "platform/win/registry.h"

namespace {

constexpr std::string_view kAppId = "{3F6A2C71-8E4B-4D19-B5A0-7C2E9D14F860}";

bool IsSwitch(std::string_view argument, std::string_view name) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return argument.size() == name.size() + 1 && (argument[0] == '/' || argument[0] == '-') &&
         std::equal(name.begin(), name.end(), argument.begin() + 1, [&](char n, char c) { return lower(c) == n; });
}

int Usage() {
  std::fputs(
      "usage: TavixServer.exe /RegServer | /UnregServer\n"
      "  /RegServer    register the instrument server (records its AppID in the registry)\n"
      "  /UnregServer  remove that registration\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Usage();
  const std::string_view argument = argv[1];
  const bool registering = IsSwitch(argument, "regserver");
  if (!registering && !IsSwitch(argument, "unregserver")) return Usage();
  platform::Registry& registry = platform::Registry::Get();
  const auto [key, name] = platform::SplitValuePath(kTavixServerAppIdPath);
  try {
    if (registering) {
      registry.Write(HKEY_LOCAL_MACHINE, key, name, std::string(kAppId), true);
    } else {
      registry.Delete(HKEY_LOCAL_MACHINE, key, name);
    }
  } catch (const platform::RegistryError& error) {
    std::fprintf(stderr, "TavixServer.exe: cannot %s the server in %s: %s\n",
                 registering ? "register" : "unregister", registry.Place().c_str(), error.what());
    return 1;
  }
  return 0;
}
