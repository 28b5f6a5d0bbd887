// The class and type-library registries of platform::com on Windows, over
// the system's COM and OLE Automation.
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "platform/com/com.h"

// Exported by oleaut32 since Windows Vista; this compiler's headers lack
// the declarations.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid,
                                        SYSKIND syskind);
}

namespace {

// Hands out objects made by a ClassFactoryFn.
class FunctionClassFactory final : public IClassFactory {
 public:
  explicit FunctionClassFactory(platform::com::ClassFactoryFn factory) : m_factory(factory) {}
  virtual ~FunctionClassFactory() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return m_factory(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  platform::com::ClassFactoryFn m_factory;
  LONG m_refs = 1;
};

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

std::mutex g_mutex;
std::map<CLSID, DWORD, GuidLess> g_classCookies;
// Registered libraries by identifier and major version: their minor version.
std::map<std::pair<GUID, WORD>, WORD, bool (*)(const std::pair<GUID, WORD>&, const std::pair<GUID, WORD>&)>
    g_typeLibs([](const std::pair<GUID, WORD>& a, const std::pair<GUID, WORD>& b) {
      const int c = std::memcmp(&a.first, &b.first, sizeof(GUID));
      return c < 0 || (c == 0 && a.second < b.second);
    });

constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

std::wstring GuidText(REFGUID guid) {
  wchar_t text[64] = {};
  StringFromGUID2(guid, text, 64);
  return text;
}

// Where a built library is kept: the temporary folder, one file per
// library and version.
std::wstring TypeLibPath(REFGUID libid, WORD major, WORD minor) {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, folder);
  return std::wstring(folder) + L"QuarnControl-" + GuidText(libid) + L"-" + std::to_wstring(major) + L"." +
         std::to_wstring(minor) + L".tlb";
}

// The reference to IDispatch from the standard OLE library, which every
// dispatch interface inherits from; 0 when it cannot be had.
HREFTYPE DispatchReference(ICreateTypeInfo* info) {
  ITypeLib* stdole = nullptr;
  if (FAILED(LoadRegTypeLib(IID_StdOle, STDOLE2_MAJORVERNUM, STDOLE2_MINORVERNUM, STDOLE2_LCID, &stdole))) return 0;
  ITypeInfo* dispatch = nullptr;
  HREFTYPE ref = 0;
  if (SUCCEEDED(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch))) {
    if (FAILED(info->AddRefTypeInfo(dispatch, &ref))) ref = 0;
    dispatch->Release();
  }
  stdole->Release();
  return ref;
}

HRESULT AddInterface(ICreateTypeLib2* lib, const platform::com::TypeInfoDesc& desc, int index) {
  const std::wstring name = L"Interface" + std::to_wstring(index);
  ICreateTypeInfo* info = nullptr;
  HRESULT hr = lib->CreateTypeInfo(const_cast<LPOLESTR>(name.c_str()), TKIND_DISPATCH, &info);
  if (FAILED(hr)) return hr;
  hr = info->SetGuid(desc.iid);
  if (SUCCEEDED(hr)) {
    if (const HREFTYPE ref = DispatchReference(info)) info->AddImplType(0, ref);
  }
  UINT slot = 0;
  for (const platform::com::TypeInfoMember& member : desc.members) {
    if (FAILED(hr)) break;
    FUNCDESC func{};
    func.memid = member.dispid;
    func.funckind = FUNC_DISPATCH;
    func.invkind = INVOKE_FUNC;
    func.callconv = CC_STDCALL;
    func.elemdescFunc.tdesc.vt = VT_VOID;
    hr = info->AddFuncDesc(slot, &func);
    if (SUCCEEDED(hr)) {
      LPOLESTR names[] = {const_cast<LPOLESTR>(member.name.c_str())};
      hr = info->SetFuncAndParamNames(slot, names, 1);
    }
    ++slot;
  }
  if (SUCCEEDED(hr)) hr = info->LayOut();
  info->Release();
  return hr;
}

}  // namespace

namespace platform::com {

void RegisterClassObject(REFCLSID clsid, ClassFactoryFn factory) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (auto found = g_classCookies.find(clsid); found != g_classCookies.end()) {
    CoRevokeClassObject(found->second);
    g_classCookies.erase(found);
  }
  if (!factory) return;
  auto* object = new FunctionClassFactory(factory);
  DWORD cookie = 0;
  // For this process only: published to the system as a local server, a
  // process that dies without revoking it would stay registered, and
  // every later client of the class would reach the dead process.
  if (SUCCEEDED(CoRegisterClassObject(clsid, object, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie))) {
    g_classCookies[clsid] = cookie;
  }
  object->Release();  // the system holds its own reference while registered
}

void RegisterTypeLib(REFGUID libid, WORD major, WORD minor, std::vector<TypeInfoDesc> interfaces) {
  UnregisterTypeLib(libid, major);
  const std::wstring path = TypeLibPath(libid, major, minor);
  ICreateTypeLib2* lib = nullptr;
  if (FAILED(CreateTypeLib2(kSysKind, path.c_str(), &lib))) return;
  HRESULT hr = lib->SetGuid(libid);
  if (SUCCEEDED(hr)) hr = lib->SetVersion(major, minor);
  if (SUCCEEDED(hr)) hr = lib->SetLcid(LANG_NEUTRAL);
  if (SUCCEEDED(hr)) hr = lib->SetName(const_cast<LPOLESTR>(L"QuarnRegisteredLibrary"));
  for (std::size_t i = 0; SUCCEEDED(hr) && i < interfaces.size(); ++i) {
    hr = AddInterface(lib, interfaces[i], static_cast<int>(i));
  }
  if (SUCCEEDED(hr)) hr = lib->SaveAllChanges();
  lib->Release();
  if (FAILED(hr)) return;
  ITypeLib* saved = nullptr;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &saved))) return;
  if (SUCCEEDED(RegisterTypeLibForUser(saved, const_cast<LPOLESTR>(path.c_str()), nullptr))) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_typeLibs[{libid, major}] = minor;
  }
  saved->Release();
}

void UnregisterTypeLib(REFGUID libid, WORD major) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (auto found = g_typeLibs.find({libid, major}); found != g_typeLibs.end()) {
    UnRegisterTypeLibForUser(libid, major, found->second, LANG_NEUTRAL, kSysKind);
    g_typeLibs.erase(found);
  }
}

HRESULT EnterApartment(Apartment apartment) {
  // OleInitialize is what an interactive host's framework calls: COM in a
  // single-threaded apartment plus OLE's clipboard and drag and drop.
  return apartment == Apartment::kSingleThreaded ? OleInitialize(nullptr)
                                                 : CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

void DeliverWaitingCalls() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace platform::com
