// VariantChangeType of the COM stand-in with any source VARIANT and any
// target type, into a separate VARIANT (which may already hold a BSTR or
// an object reference) or in place.
// Input: 1 byte target type (the VARTYPE itself), 1 byte mode (bit 0: in
// place; bit 1: the separate target holds a BSTR, bit 2: an object), then
// the source VARIANT (see variant_input.h).
// Beyond not crashing: a failure is one of the documented results and
// changes nothing; a success gives the target type; a whole number
// written as text reads back as the same number; no BSTR or reference
// is leaked or released twice.
#include <cstddef>
#include <cstdint>

#include "fuzz/com/variant_input.h"

namespace {

using fuzzing::Require;

// Bytes of the value of a whole-number type, 0 for the other types.
int WholeBytes(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: return 4;
    case VT_I8: return 8;
    default: return 0;
  }
}

std::uint64_t WholeValue(const VARIANT& v, int bytes) {
  return bytes == 8 ? v.ullVal : v.ullVal & ((std::uint64_t{1} << (8 * bytes)) - 1);
}

bool Documented(HRESULT hr) {
  return hr == DISP_E_OVERFLOW || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE || hr == E_OUTOFMEMORY;
}

// A whole number as text converts back to the same number.
void CheckTextRoundTrip(const VARIANT& number) {
  const int bytes = WholeBytes(number.vt);
  if (bytes == 0) return;
  VARIANT text;
  VARIANT back;
  VariantInit(&text);
  VariantInit(&back);
  Require(VariantChangeType(&text, &number, 0, VT_BSTR) == S_OK);
  Require(VariantChangeType(&back, &text, 0, number.vt) == S_OK);
  Require(back.vt == number.vt && WholeValue(back, bytes) == WholeValue(number, bytes));
  VariantClear(&text);
  VariantClear(&back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const long bstrsBefore = platform::com::LiveBstrCountForTesting();
  fuzzing::ByteReader in(data, size);
  const auto target = static_cast<VARTYPE>(in.Byte());
  const std::uint8_t mode = in.Byte();
  VARIANT source;
  fuzzing::ReadVariant(in, source);
  VARIANT separate;
  VariantInit(&separate);
  if (mode & 2) {
    separate.vt = VT_BSTR;
    separate.bstrVal = SysAllocString(OLESTR("previous"));
  } else if (mode & 4) {
    separate.vt = VT_UNKNOWN;
    separate.punkVal = &fuzzing::CountingObject::Get();
    separate.punkVal->AddRef();
  }
  VARIANT* dest = (mode & 1) ? &source : &separate;
  const std::string sourceBefore = fuzzing::Snapshot(source);
  const std::string destBefore = fuzzing::Snapshot(*dest);

  const HRESULT hr = VariantChangeType(dest, &source, 0, target);
  if (FAILED(hr)) {
    Require(Documented(hr));
    Require(fuzzing::Snapshot(*dest) == destBefore);
  } else {
    Require(hr == S_OK && dest->vt == target);
    if (dest->vt == VT_BOOL && source.vt != VT_BOOL) {
      Require(dest->boolVal == VARIANT_TRUE || dest->boolVal == VARIANT_FALSE);
    }
    CheckTextRoundTrip(*dest);
  }
  if (dest != &source) Require(fuzzing::Snapshot(source) == sourceBefore);

  VariantClear(&source);
  VariantClear(&separate);
  Require(platform::com::LiveBstrCountForTesting() == bstrsBefore);
  Require(fuzzing::CountingObject::Get().References() == 0);
  return 0;
}
