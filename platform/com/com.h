// COM and OLE Automation, as far as the plug-in and the simulated
// instrument server use them.
//
// Contract: the Windows names, types, values and signatures, so that code
// written against this header compiles unchanged against the system
// headers (objbase.h, oleauto.h) on Windows. What is covered:
//  - HRESULT with its tests and every code used; GUID / IID / CLSID with
//    comparison; IUnknown, IDispatch, ITypeInfo (the name lookup only),
//    ITypeLib (type information by identifier), IConnectionPointContainer
//    and IConnectionPoint (advise and unadvise).
//  - BSTR: 16-bit text with its length stored before it; SysAllocString,
//    SysAllocStringLen, SysFreeString, SysStringLen, SysStringByteLen.
//  - VARIANT with VariantInit, VariantClear, VariantCopy and
//    VariantChangeType between VT_EMPTY, the integer types, VT_R4, VT_R8,
//    VT_BOOL and VT_BSTR; DISPPARAMS; EXCEPINFO (never filled here).
//  - CoCreateInstance through a class registry that a server fills with
//    RegisterClassObject (the stand-in's counterpart of the system's
//    registration of a local server).
//  - LoadRegTypeLib through a type-library registry that a server fills
//    with RegisterTypeLib; DispGetIDsOfNames.
// Everything else of COM (apartments, marshalling, monikers, storage) is
// absent: objects are called directly, on whatever thread calls them.
// Thread safety: every function may be called from any thread; the
// registries are guarded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mfc/windef.h"

#if defined(_WIN32)
// Windows: the system's COM and OLE Automation. Only the registries of
// platform::com below are this layer's own, built on the system's
// functions (platform/com/com_win.cc).
#include "platform/win/system_headers.h"
#else
#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

using HRESULT = LONG;
using SCODE = LONG;
using ULONG = std::uint32_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using CHAR = char;
using FLOAT = float;
using DOUBLE = double;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using INT = int;
using LCID = DWORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using LPVOID = void*;

// 16-bit text: wchar_t on Windows, char16_t here (wchar_t is 32-bit).
using OLECHAR = char16_t;
#define OLESTR(str) u##str
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// Result codes (the system's values, as HRESULT).
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = static_cast<HRESULT>(0x80040202);
inline constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108);
inline constexpr HRESULT RPC_E_SERVER_DIED = static_cast<HRESULT>(0x80010007);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
inline constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000A);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
inline constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000B);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = static_cast<HRESULT>(0x8002802B);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = static_cast<HRESULT>(0x8002801D);

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
#define REFGUID const GUID&
#define REFIID const IID&
#define REFCLSID const CLSID&

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
inline bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_ITypeInfo;
extern const IID IID_ITypeLib;
extern const IID IID_IConnectionPointContainer;
extern const IID IID_IConnectionPoint;

// Context flags of CoCreateInstance.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_ALL = 0x7;

struct IUnknown {
 protected:
  ~IUnknown() = default;  // never deleted through an interface pointer

 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) = 0;
  STDMETHOD_(ULONG, AddRef)() = 0;
  STDMETHOD_(ULONG, Release)() = 0;
};
using LPUNKNOWN = IUnknown*;

// ---- BSTR ----
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// ---- VARIANT ----
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
};
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct IDispatch;
struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
  };
};
using VARIANT = tagVARIANT;
using VARIANTARG = tagVARIANT;

void VariantInit(VARIANTARG* variant);
HRESULT VariantClear(VARIANTARG* variant);
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* source);
// Converts `source` to `vt` into `dest` (which may be `source`). Numbers
// are range-checked (DISP_E_OVERFLOW) and rounded half to even; a text
// converts to a number when it holds one (else DISP_E_TYPEMISMATCH);
// VT_EMPTY converts to 0 or an empty text; VT_NULL converts to nothing.
// On failure `dest` is left as it was. `flags` is accepted and ignored.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* source, USHORT flags, VARTYPE vt);

struct DISPPARAMS {
  VARIANTARG* rgvarg;  // the arguments, last one first
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  SCODE scode;
};

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr DISPID DISPID_UNKNOWN = -1;

// ---- Type information ----
// Only the name lookup of ITypeInfo is part of this stand-in.
struct ITypeInfo : IUnknown {
 protected:
  ~ITypeInfo() = default;  // never deleted through an interface pointer

 public:
  STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
};
struct ITypeLib : IUnknown {
 protected:
  ~ITypeLib() = default;  // never deleted through an interface pointer

 public:
  STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTInfo) = 0;
};

struct IDispatch : IUnknown {
 protected:
  ~IDispatch() = default;  // never deleted through an interface pointer

 public:
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
  STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};
using LPDISPATCH = IDispatch*;

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid);

inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

// ---- Connection points ----
struct IConnectionPointContainer;
struct IEnumConnections;      // never handed out here
struct IEnumConnectionPoints;  // never handed out here
struct IConnectionPoint : IUnknown {
 protected:
  ~IConnectionPoint() = default;  // never deleted through an interface pointer

 public:
  STDMETHOD(GetConnectionInterface)(IID* pIID) = 0;
  STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) = 0;
  STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  STDMETHOD(Unadvise)(DWORD dwCookie) = 0;
  STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) = 0;
};
struct IConnectionPointContainer : IUnknown {
 protected:
  ~IConnectionPointContainer() = default;  // never deleted through an interface pointer

 public:
  STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) = 0;
  STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) = 0;
};

// ---- Object creation ----
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
#endif  // !_WIN32

namespace platform::com {

// Text in the system's 16-bit characters.
using OleString = std::basic_string<OLECHAR>;

// Makes an object of a registered class and queries it for `riid`; the
// result is what CoCreateInstance returns (its *ppv set as the function
// sets it).
using ClassFactoryFn = HRESULT (*)(REFIID riid, void** ppv);

// The class registry behind CoCreateInstance. A class not registered
// gives REGDB_E_CLASSNOTREG; registering again replaces; nullptr removes.
// On Windows this is the system's own: a class factory registered with
// CoRegisterClassObject for this process alone (in-process, multiple use).
void RegisterClassObject(REFCLSID clsid, ClassFactoryFn factory);

// One dispatch interface of a registered type library: its members'
// names (matched without regard to case) and dispatch identifiers.
struct TypeInfoMember {
  OleString name;
  DISPID dispid;
};
struct TypeInfoDesc {
  IID iid;
  std::vector<TypeInfoMember> members;
};
// The type-library registry behind LoadRegTypeLib: a library is found by
// its identifier and major version, with a minor version at least the
// one asked for; the locale is not used. On Windows the library is built
// with the system's CreateTypeLib2 into a file in the temporary folder and
// registered for the user (RegisterTypeLibForUser), so that the system's
// LoadRegTypeLib and type information answer.
void RegisterTypeLib(REFGUID libid, WORD major, WORD minor, std::vector<TypeInfoDesc> interfaces);
void UnregisterTypeLib(REFGUID libid, WORD major);

// The calling thread's COM apartment, entered once by each program's main
// thread before it uses COM (the plug-in never enters one: its host has).
// Single-threaded is an interactive host's: its framework initialises OLE
// on the main thread for windows, the clipboard and drag and drop, and
// calls from other apartments (a local server's events) then reach the
// thread as window messages, taken when it pumps them or waits in a call
// of its own. Multithreaded is a service's: such calls run on threads of
// the system's pool. The result is the system's (S_OK, S_FALSE when the
// thread is in that apartment already, RPC_E_CHANGED_MODE when it is in
// the other). The stand-in has no apartments: S_OK, nothing done.
enum class Apartment { kSingleThreaded, kMultithreaded };
HRESULT EnterApartment(Apartment apartment);
// Delivers what waits for this thread: the messages of a single-threaded
// apartment, which carry calls and events from other apartments and
// processes. Returns at once when nothing waits; does nothing in the
// multithreaded apartment or the stand-in.
void DeliverWaitingCalls();

#if !defined(_WIN32)  // the system's allocator has no such hooks
// Tests only: the next `count` BSTR allocations fail (return null), as
// when memory runs out; 0 switches it off.
void FailBstrAllocationsForTesting(int count);
// Tests only: BSTRs allocated and not yet freed.
long LiveBstrCountForTesting();
#endif

// Text helpers for code outside the product (tests, simulators):
// 16-bit text to UTF-8 and back (BMP only; a null BSTR is empty).
std::string ToUtf8(const OLECHAR* text);
OleString FromUtf8(const std::string& text);

}  // namespace platform::com
