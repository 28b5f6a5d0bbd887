#include "platform/com/com.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

// The system's identifiers of the standard interfaces.
const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

namespace {

std::atomic<int> g_failAllocations{0};
std::atomic<long> g_liveBstrs{0};

// ---- Registries ----

struct ClassEntry {
  CLSID clsid;
  platform::com::ClassFactoryFn factory;
};
struct TypeLibEntry {
  GUID libid;
  WORD major, minor;
  std::shared_ptr<const std::vector<platform::com::TypeInfoDesc>> interfaces;
};

std::mutex g_registryMutex;
std::vector<ClassEntry>& Classes() {
  static std::vector<ClassEntry> classes;
  return classes;
}
std::vector<TypeLibEntry>& TypeLibs() {
  static std::vector<TypeLibEntry> libs;
  return libs;
}

char16_t Lower(char16_t c) { return c < 128 ? static_cast<char16_t>(std::tolower(c)) : c; }

bool SameName(const std::u16string& a, const OLECHAR* b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == 0 || Lower(a[i]) != Lower(static_cast<char16_t>(b[i]))) return false;
  }
  return b[i] == 0;
}

// A reference-counted object of this file (type library and type info).
template <class Interface>
class RefCounted : public Interface {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  virtual ~RefCounted() = default;

 protected:
  HRESULT Query(REFIID riid, REFIID own, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == own) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

class TypeInfo final : public RefCounted<ITypeInfo> {
 public:
  explicit TypeInfo(platform::com::TypeInfoDesc desc) : m_desc(std::move(desc)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return Query(riid, IID_ITypeInfo, ppv); }
  STDMETHODIMP GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    if (!names || !ids) return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      if (!names[i]) {
        hr = DISP_E_UNKNOWNNAME;
        continue;
      }
      bool found = false;
      for (const auto& member : m_desc.members) {
        if (SameName(member.name, names[i])) {
          ids[i] = member.dispid;
          found = true;
          break;
        }
      }
      if (!found) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

 private:
  platform::com::TypeInfoDesc m_desc;
};

class TypeLib final : public RefCounted<ITypeLib> {
 public:
  explicit TypeLib(std::shared_ptr<const std::vector<platform::com::TypeInfoDesc>> interfaces)
      : m_interfaces(std::move(interfaces)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return Query(riid, IID_ITypeLib, ppv); }
  STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTInfo) override {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    for (const auto& desc : *m_interfaces) {
      if (desc.iid == guid) {
        *ppTInfo = new TypeInfo(desc);
        return S_OK;
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }

 private:
  std::shared_ptr<const std::vector<platform::com::TypeInfoDesc>> m_interfaces;
};

// ---- VARIANT conversion ----

// The value of a convertible VARIANT: none (VT_EMPTY), a whole number, a
// floating-point number or a text.
using Value = std::variant<std::monostate, std::int64_t, double, std::u16string>;

// False for a type that does not convert.
bool ValueOf(const VARIANTARG& v, Value& out) {
  switch (v.vt) {
    case VT_EMPTY: out = Value{};
      return true;
    case VT_I1: out = Value{std::int64_t{v.cVal}};
      return true;
    case VT_UI1: out = Value{std::int64_t{v.bVal}};
      return true;
    case VT_I2: out = Value{std::int64_t{v.iVal}};
      return true;
    case VT_UI2: out = Value{std::int64_t{v.uiVal}};
      return true;
    case VT_I4: out = Value{std::int64_t{v.lVal}};
      return true;
    case VT_UI4: out = Value{std::int64_t{v.ulVal}};
      return true;
    case VT_INT: out = Value{std::int64_t{v.intVal}};
      return true;
    case VT_UINT: out = Value{std::int64_t{v.uintVal}};
      return true;
    case VT_I8: out = Value{std::int64_t{v.llVal}};
      return true;
    case VT_BOOL: out = Value{std::int64_t{v.boolVal ? -1 : 0}};
      return true;
    case VT_R4: out = Value{double{v.fltVal}};
      return true;
    case VT_R8: out = Value{v.dblVal};
      return true;
    case VT_BSTR: out = Value{std::u16string(v.bstrVal ? v.bstrVal : u"", v.bstrVal ? SysStringLen(v.bstrVal) : 0)};
      return true;
    default: return false;
  }
}

// A text as a number: optional blanks, a decimal number, optional blanks.
std::optional<double> ParseNumber(const std::u16string& text) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 127) return std::nullopt;
    ascii += static_cast<char>(c);
  }
  const char* begin = ascii.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  if (*begin == 0) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  if (end == begin) return std::nullopt;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != 0 || !std::isfinite(value)) return std::nullopt;
  return value;
}

// A text holding a whole number (optional blanks and sign, decimal
// digits, optional blanks), read exactly: a double keeps only 53 bits, so
// a 64-bit number written as text would not read back as itself.
enum class WholeText { kNotWhole, kWhole, kTooLarge };
WholeText ParseWhole(const std::u16string& text, std::int64_t& out) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
  const bool negative = i < n && text[i] == u'-';
  if (i < n && (text[i] == u'-' || text[i] == u'+')) ++i;
  const std::size_t digits = i;
  std::uint64_t magnitude = 0;
  bool tooLarge = false;
  for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - u'0');
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) tooLarge = true;
    magnitude = tooLarge ? magnitude : magnitude * 10 + digit;
  }
  if (i == digits) return WholeText::kNotWhole;
  while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
  if (i != n) return WholeText::kNotWhole;
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  if (tooLarge || magnitude > limit) return WholeText::kTooLarge;
  out = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return WholeText::kWhole;
}

std::u16string TextOf(const Value& value, VARTYPE sourceType) {
  char buffer[64] = {};
  if (const auto* n = std::get_if<std::int64_t>(&value)) {
    if (sourceType == VT_BOOL) return *n ? u"True" : u"False";
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(*n));
  } else if (const auto* d = std::get_if<double>(&value)) {
    std::snprintf(buffer, sizeof buffer, sourceType == VT_R4 ? "%.7G" : "%.15G", *d);
  } else if (const auto* t = std::get_if<std::u16string>(&value)) {
    return *t;
  }
  return platform::com::FromUtf8(buffer);
}

// Whole number for an integer target: rounded half to even, range-checked.
HRESULT WholeOf(const Value& value, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  double d = 0.0;
  if (const auto* n = std::get_if<std::int64_t>(&value)) {
    if (*n < lo || *n > hi) return DISP_E_OVERFLOW;
    out = *n;
    return S_OK;
  }
  if (const auto* f = std::get_if<double>(&value)) {
    d = *f;
  } else if (const auto* t = std::get_if<std::u16string>(&value)) {
    std::int64_t whole = 0;
    switch (ParseWhole(*t, whole)) {
      case WholeText::kWhole:
        if (whole < lo || whole > hi) return DISP_E_OVERFLOW;
        out = whole;
        return S_OK;
      case WholeText::kTooLarge: return DISP_E_OVERFLOW;
      case WholeText::kNotWhole: break;
    }
    const auto parsed = ParseNumber(*t);
    if (!parsed) return DISP_E_TYPEMISMATCH;
    d = *parsed;
  }
  if (!std::isfinite(d)) return DISP_E_OVERFLOW;
  const double rounded = std::nearbyint(d);
  // hi + 1 (a power of two, exact as a double): INT64_MAX itself is not.
  const double above = 2.0 * static_cast<double>(hi / 2 + 1);
  if (rounded < static_cast<double>(lo) || rounded >= above) return DISP_E_OVERFLOW;
  out = static_cast<std::int64_t>(rounded);
  return S_OK;
}

HRESULT RealOf(const Value& value, double& out) {
  if (const auto* n = std::get_if<std::int64_t>(&value)) {
    out = static_cast<double>(*n);
  } else if (const auto* f = std::get_if<double>(&value)) {
    out = *f;
  } else if (const auto* t = std::get_if<std::u16string>(&value)) {
    const auto parsed = ParseNumber(*t);
    if (!parsed) return DISP_E_TYPEMISMATCH;
    out = *parsed;
  } else {
    out = 0.0;
  }
  return S_OK;
}

}  // namespace

// ---- BSTR ----

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  int remaining = g_failAllocations.load();
  while (remaining > 0 && !g_failAllocations.compare_exchange_weak(remaining, remaining - 1)) {
  }
  if (remaining > 0) return nullptr;
  if (length > 0x3FFFFFF0u) return nullptr;
  const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<std::uint8_t*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const auto byteLength = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &byteLength, sizeof byteLength);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
  if (text) {
    std::memcpy(chars, text, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  chars[length] = 0;
  g_liveBstrs.fetch_add(1, std::memory_order_relaxed);
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length] != 0) ++length;
  return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
  if (!text) return;
  g_liveBstrs.fetch_sub(1, std::memory_order_relaxed);
  std::free(reinterpret_cast<std::uint8_t*>(text) - sizeof(std::uint32_t));
}

UINT SysStringByteLen(BSTR text) {
  if (!text) return 0;
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<std::uint8_t*>(text) - sizeof(std::uint32_t), sizeof bytes);
  return bytes;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

// ---- VARIANT ----

void VariantInit(VARIANTARG* variant) {
  variant->vt = VT_EMPTY;
  variant->wReserved1 = variant->wReserved2 = variant->wReserved3 = 0;
  variant->llVal = 0;
}

HRESULT VariantClear(VARIANTARG* variant) {
  if (!variant) return E_INVALIDARG;
  switch (variant->vt) {
    case VT_BSTR: SysFreeString(variant->bstrVal); break;
    case VT_UNKNOWN:
      if (variant->punkVal) variant->punkVal->Release();
      break;
    case VT_DISPATCH:
      if (variant->pdispVal) variant->pdispVal->Release();
      break;
    default: break;
  }
  VariantInit(variant);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* source) {
  if (!dest || !source) return E_INVALIDARG;
  if (dest == source) return S_OK;
  VARIANT copy = *source;
  if (source->vt == VT_BSTR && source->bstrVal) {
    copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if (source->vt == VT_UNKNOWN && source->punkVal) {
    source->punkVal->AddRef();
  } else if (source->vt == VT_DISPATCH && source->pdispVal) {
    source->pdispVal->AddRef();
  }
  VariantClear(dest);
  *dest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* source, USHORT, VARTYPE vt) {
  if (!dest || !source) return E_INVALIDARG;
  if (source->vt == vt) return VariantCopy(dest, source);
  Value parsed;
  const Value* value = &parsed;
  if (!ValueOf(*source, parsed)) return source->vt == VT_NULL || source->vt == VT_DISPATCH || source->vt == VT_UNKNOWN ||
                            source->vt == VT_ERROR
                        ? DISP_E_TYPEMISMATCH
                        : DISP_E_BADVARTYPE;
  VARIANT result;
  VariantInit(&result);
  result.vt = vt;
  std::int64_t n = 0;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_EMPTY: break;
    case VT_I1: hr = WholeOf(*value, -128, 127, n), result.cVal = static_cast<CHAR>(n); break;
    case VT_UI1: hr = WholeOf(*value, 0, 255, n), result.bVal = static_cast<BYTE>(n); break;
    case VT_I2: hr = WholeOf(*value, -32768, 32767, n), result.iVal = static_cast<SHORT>(n); break;
    case VT_UI2: hr = WholeOf(*value, 0, 65535, n), result.uiVal = static_cast<USHORT>(n); break;
    case VT_I4:
    case VT_INT:
      hr = WholeOf(*value, INT32_MIN, INT32_MAX, n), result.lVal = static_cast<LONG>(n);
      break;
    case VT_UI4:
    case VT_UINT:
      hr = WholeOf(*value, 0, UINT32_MAX, n), result.ulVal = static_cast<ULONG>(n);
      break;
    case VT_I8: hr = WholeOf(*value, INT64_MIN, INT64_MAX, n), result.llVal = n; break;
    case VT_BOOL: {
      double d = 0.0;
      hr = RealOf(*value, d);
      result.boolVal = d != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    case VT_R4: {
      double d = 0.0;
      hr = RealOf(*value, d);
      if (SUCCEEDED(hr) && std::fabs(d) > std::numeric_limits<float>::max()) hr = DISP_E_OVERFLOW;
      result.fltVal = static_cast<FLOAT>(d);
      break;
    }
    case VT_R8: hr = RealOf(*value, result.dblVal); break;
    case VT_BSTR: {
      const std::u16string text = TextOf(*value, source->vt);
      result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!result.bstrVal) hr = E_OUTOFMEMORY;
      break;
    }
    default: hr = DISP_E_BADVARTYPE; break;
  }
  if (FAILED(hr)) return hr;
  VariantClear(dest);
  *dest = result;
  return S_OK;
}

// ---- Type libraries ----

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID, ITypeLib** pptlib) {
  if (!pptlib) return E_INVALIDARG;
  *pptlib = nullptr;
  std::lock_guard<std::mutex> lock(g_registryMutex);
  for (const TypeLibEntry& entry : TypeLibs()) {
    if (entry.libid == rguid && entry.major == wVerMajor && entry.minor >= wVerMinor) {
      *pptlib = new TypeLib(entry.interfaces);
      return S_OK;
    }
  }
  return TYPE_E_LIBNOTREGISTERED;
}

HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid) {
  if (!ptinfo) return E_INVALIDARG;
  return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

// ---- Object creation ----

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD context, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  platform::com::ClassFactoryFn factory = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    for (const ClassEntry& entry : Classes()) {
      if (entry.clsid == rclsid) factory = entry.factory;
    }
  }
  // The classes are local servers: a context without them finds none.
  if (!factory || !(context & CLSCTX_LOCAL_SERVER)) return REGDB_E_CLASSNOTREG;
  return factory(riid, ppv);
}

namespace platform::com {

void RegisterClassObject(REFCLSID clsid, ClassFactoryFn factory) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  auto& classes = Classes();
  std::erase_if(classes, [&](const ClassEntry& e) { return e.clsid == clsid; });
  if (factory) classes.push_back({clsid, factory});
}

void RegisterTypeLib(REFGUID libid, WORD major, WORD minor, std::vector<TypeInfoDesc> interfaces) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  auto& libs = TypeLibs();
  std::erase_if(libs, [&](const TypeLibEntry& e) { return e.libid == libid && e.major == major; });
  libs.push_back({libid, major, minor, std::make_shared<const std::vector<TypeInfoDesc>>(std::move(interfaces))});
}

void UnregisterTypeLib(REFGUID libid, WORD major) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  std::erase_if(TypeLibs(), [&](const TypeLibEntry& e) { return e.libid == libid && e.major == major; });
}

void FailBstrAllocationsForTesting(int count) { g_failAllocations.store(count < 0 ? 0 : count); }
long LiveBstrCountForTesting() { return g_liveBstrs.load(); }

HRESULT EnterApartment(Apartment) { return S_OK; }
void DeliverWaitingCalls() {}

}  // namespace platform::com
