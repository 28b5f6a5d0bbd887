// What the plug-in does when a process attaches it and detaches it.
//
// Attach: the library joins the class framework's extension modules. By
// then the loader's static initialisation has built the inlet registry key
// string and the direct path's process-wide records (the driver session,
// the status snapshot, the download records); the server's objects are
// made on first use. Nothing talks to an instrument.
// Detach: the library leaves the framework's list again.
//
// This file is part of the plug-in library only: the test programs that
// link the product's objects directly do not register anything.
#include "front/shared_routines.h"
#include "platform/mfc/afxdll.h"

namespace {

AFX_EXTENSION_MODULE g_quarnControlModule = {FALSE, nullptr};

void Attach(HMODULE module) {
  AfxInitExtensionModule(g_quarnControlModule, module);
  new CDynLinkLibrary(g_quarnControlModule);  // owned by the framework's list
  InletRegistryKey();
}

void Detach() { AfxTermExtensionModule(g_quarnControlModule); }

}  // namespace

#if defined(_WIN32)

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) Attach(instance);
  if (reason == DLL_PROCESS_DETACH) Detach();
  return TRUE;
}

#else

// The loader runs this library's static constructors in link order; this
// object comes last, after every other static of the library is built.
struct ModuleLife {
  ModuleLife() { Attach(AfxModuleOfAddress(&g_quarnControlModule)); }
  ~ModuleLife() { Detach(); }
  ModuleLife(const ModuleLife&) = delete;
  ModuleLife& operator=(const ModuleLife&) = delete;
};
const ModuleLife g_moduleLife;

#endif
