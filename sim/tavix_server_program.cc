// TavixServer.exe: the instrument server's own program, simulated.
//
//   TavixServer.exe /RegServer     records the server's AppID value; exit 0
//   TavixServer.exe /UnregServer   removes it; exit 0
//   TavixServer.exe -Embedding     (Windows) serves as COM started it
// The switch is matched without regard to case and may start with - as
// well. Anything else prints the usage to stderr and exits 2; a registry
// that cannot be written prints why and exits 1. The plug-in checks the
// registration through one value of the stand-in's registry file
// ($QUARN_REGISTRY, else the user's default), which it hands on to the
// programs it starts.
//
// On Linux the simulated server lives in the plug-in's process
// (sim/simulated_server.h) and this program only registers. On Windows
// registering also records the program with the system's COM as the
// server's local server (sim/windows/server_program.h), and the server
// then runs here, started by the plug-in's CoCreateInstance.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/com/com.h"
#include "platform/tavix/tavix.h"
#include "platform/win/registry.h"
#ifdef _WIN32
#include "sim/windows/server_program.h"
#endif

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
#ifdef _WIN32
  // A server: its objects are called on the system's threads, and its
  // event thread calls its clients' sinks.
  platform::com::EnterApartment(platform::com::Apartment::kMultithreaded);
  if (IsSwitch(argument, "embedding")) return sim::ServeServerProgram();
#endif
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
#ifdef _WIN32
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::string failed = registering ? sim::RegisterServerProgram(path) : sim::UnregisterServerProgram();
  if (!failed.empty()) {
    std::fprintf(stderr, "TavixServer.exe: cannot %s the server with COM: %s\n",
                 registering ? "register" : "unregister", failed.c_str());
    return 1;
  }
#endif
  return 0;
}
