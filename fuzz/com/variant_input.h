// Builds the VARIANTs a COM caller could hand over from fuzz input, read
// front to back (missing bytes read as 0). Every VARIANT holds only memory
// the harness made with the stand-in's own functions, so whatever goes
// wrong is a fault of the code under test.
//
// A VARIANT is: 1 byte type tag (any value; the VARTYPE itself), then
//  - VT_BSTR: 2 bytes length L (little-endian); 0xFFFF gives a null BSTR,
//    else L % 300 characters of 2 bytes each (embedded NULs included);
//  - VT_UNKNOWN, VT_DISPATCH: 1 byte; 0 gives a null pointer, else the
//    counting object below (one reference taken);
//  - every other tag: 8 bytes into the value (every member of the union
//    overlaps them: integers, floats with NaN and infinities, booleans
//    other than -1 and 0, tags the stand-in does not know).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/com.h"

namespace fuzzing {

inline void Require(bool condition) {
  if (!condition) std::abort();
}

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  std::uint64_t Little(int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint64_t{Byte()} << (8 * i);
    return value;
  }
  bool AtEnd() const { return m_pos >= m_size; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

// An object that only counts its references: what VT_UNKNOWN and
// VT_DISPATCH arguments point to. Its count must come back to 0.
class CountingObject final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_refs); }
  STDMETHODIMP_(ULONG) Release() override {
    Require(m_refs > 0);  // released more often than referenced
    return static_cast<ULONG>(--m_refs);
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  long References() const { return m_refs; }

  static CountingObject& Get() {
    static CountingObject object;
    return object;
  }

 private:
  CountingObject() = default;
  ~CountingObject() = default;
  long m_refs = 0;
};

inline void ReadVariant(ByteReader& in, VARIANT& v) {
  VariantInit(&v);
  v.vt = in.Byte();
  if (v.vt == VT_BSTR) {
    const auto length = static_cast<UINT>(in.Little(2));
    if (length == 0xFFFF) return;  // null BSTR
    std::u16string text(length % 300, u'\0');
    for (char16_t& c : text) c = static_cast<char16_t>(in.Little(2));
    v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
    Require(v.bstrVal != nullptr);
  } else if (v.vt == VT_UNKNOWN || v.vt == VT_DISPATCH) {
    if (in.Byte() != 0) {
      v.pdispVal = &CountingObject::Get();
      v.pdispVal->AddRef();
    }
  } else {
    v.ullVal = in.Little(8);
  }
}

// Everything a VARIANT holds, to tell whether it was changed: its tag,
// its 8 value bytes and, for a BSTR, its characters.
inline std::string Snapshot(const VARIANT& v) {
  std::string s(reinterpret_cast<const char*>(&v.vt), sizeof v.vt);
  s.append(reinterpret_cast<const char*>(&v.ullVal), sizeof v.ullVal);
  if (v.vt == VT_BSTR && v.bstrVal) s.append(reinterpret_cast<const char*>(v.bstrVal), SysStringByteLen(v.bstrVal));
  return s;
}

}  // namespace fuzzing
