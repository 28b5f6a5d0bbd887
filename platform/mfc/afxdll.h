// Extension modules of the class framework. A library built on the
// framework joins the process's list of extension modules when a process
// attaches it (the framework finds its classes and resources through the
// list) and leaves it when the process detaches it.
//
// Contract:
//  - AfxInitExtensionModule(state, module) records the module in `state`
//    and returns TRUE; called again for an initialised state it changes
//    nothing and returns TRUE.
//  - `new CDynLinkLibrary(state)` on an initialised state joins the list;
//    deleting it leaves the list.
//  - AfxTermExtensionModule(state) deletes the CDynLinkLibrary objects of
//    the state's module that are still in the list and clears the state.
//  - AfxExtensionModules() lists the modules in the order they joined,
//    each with its handle and file name: what a host (or a test) reads to
//    see which libraries are attached.
//  - AfxModuleOfAddress(address) is the module that holds `address` (the
//    system's own answer on Windows; the shared object that the dynamic
//    loader names elsewhere); null when none does.
// Thread safety: any thread; the list has a lock of its own, since a
// process may load libraries on any of its threads.
#pragma once

#include <string>
#include <vector>

#include "platform/mfc/afxwin.h"

struct AFX_EXTENSION_MODULE {
  BOOL bInitialized;
  HMODULE hModule;
};

class CDynLinkLibrary : public CObject {
 public:
  explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state);
  ~CDynLinkLibrary() override;
  CDynLinkLibrary(const CDynLinkLibrary&) = delete;
  CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

  HMODULE m_hModule;
};

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE module);
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

struct AfxExtensionModuleEntry {
  HMODULE hModule;
  std::string fileName;
};
std::vector<AfxExtensionModuleEntry> AfxExtensionModules();

HMODULE AfxModuleOfAddress(const void* address);
