#include "platform/mfc/afxdll.h"

#include <mutex>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {

struct ModuleList {
  std::mutex mutex;
  std::vector<CDynLinkLibrary*> libraries;
};

// Never destroyed: a library may leave the list while the process exits.
ModuleList& List() {
  static ModuleList* const list = new ModuleList;
  return *list;
}

std::string FileNameOf(HMODULE module) {
#if defined(_WIN32)
  char name[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
  return std::string(name, length);
#else
  Dl_info info{};
  if (module == nullptr || dladdr(module, &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
#endif
}

}  // namespace

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state) : m_hModule(state.hModule) {
  ModuleList& list = List();
  std::lock_guard<std::mutex> lock(list.mutex);
  list.libraries.push_back(this);
}

CDynLinkLibrary::~CDynLinkLibrary() {
  ModuleList& list = List();
  std::lock_guard<std::mutex> lock(list.mutex);
  std::erase(list.libraries, this);
}

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE module) {
  if (!state.bInitialized) {
    state.hModule = module;
    state.bInitialized = TRUE;
  }
  return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL /*bAll*/) {
  if (!state.bInitialized) return;
  std::vector<CDynLinkLibrary*> mine;
  {
    ModuleList& list = List();
    std::lock_guard<std::mutex> lock(list.mutex);
    for (CDynLinkLibrary* library : list.libraries) {
      if (library->m_hModule == state.hModule) mine.push_back(library);
    }
  }
  for (CDynLinkLibrary* library : mine) delete library;
  state = AFX_EXTENSION_MODULE{FALSE, nullptr};
}

std::vector<AfxExtensionModuleEntry> AfxExtensionModules() {
  std::vector<HMODULE> modules;
  {
    ModuleList& list = List();
    std::lock_guard<std::mutex> lock(list.mutex);
    for (const CDynLinkLibrary* library : list.libraries) modules.push_back(library->m_hModule);
  }
  std::vector<AfxExtensionModuleEntry> entries;
  for (HMODULE module : modules) entries.push_back({module, FileNameOf(module)});
  return entries;
}

HMODULE AfxModuleOfAddress(const void* address) {
#if defined(_WIN32)
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module)) {
    return nullptr;
  }
  return module;
#else
  Dl_info info{};
  if (dladdr(address, &info) == 0) return nullptr;
  return static_cast<HMODULE>(info.dli_fbase);
#endif
}
