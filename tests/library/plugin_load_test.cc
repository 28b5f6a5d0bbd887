// The plug-in as a process loads it at run time: it joins the class
// framework's extension modules when attached and leaves no trace when
// unloaded. This program links the world only, never the plug-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/mfc/afxdll.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {

const std::filesystem::path kPlugin = QUARN_PLUGIN_FILE;

#if defined(_WIN32)
void* Load() { return LoadLibraryA(kPlugin.string().c_str()); }
bool Unload(void* handle) { return FreeLibrary(static_cast<HMODULE>(handle)) != 0; }
bool StillLoaded() { return GetModuleHandleA(kPlugin.filename().string().c_str()) != nullptr; }
#else
void* Load() { return dlopen(kPlugin.c_str(), RTLD_NOW | RTLD_LOCAL); }
bool Unload(void* handle) { return dlclose(handle) == 0; }
bool StillLoaded() {
  void* handle = dlopen(kPlugin.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}
#endif

std::string AttachedNames() {
  std::string names;
  for (const AfxExtensionModuleEntry& module : AfxExtensionModules()) {
    names += std::filesystem::path(module.fileName).filename().string() + ";";
  }
  return names;
}

TEST(PluginLoadTest, JoinsTheFrameworkWhenAttachedAndLeavesNothingWhenUnloaded) {
  ASSERT_EQ(AttachedNames(), "");
  for (int load = 1; load <= 2; ++load) {
    SCOPED_TRACE(load);
    void* handle = Load();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(AttachedNames(), kPlugin.filename().string() + ";");
    ASSERT_TRUE(Unload(handle));
    EXPECT_EQ(AttachedNames(), "");
    EXPECT_FALSE(StillLoaded());
  }
}

}  // namespace
