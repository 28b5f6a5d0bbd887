// VARIANT arguments as a server's events carry them, for tests and
// benchmarks of the event sink and the COM stand-in. The caller owns what
// it gets and clears it with VariantClear.
#pragma once

#include <type_traits>

#include "platform/com/com.h"

namespace testing_support {

// A VARIANT of type `vt` holding `value` in `member`.
template <class T>
VARIANT Variant(VARTYPE vt, T VARIANT::*member, std::type_identity_t<T> value) {
  VARIANT r;
  VariantInit(&r);
  r.vt = vt;
  r.*member = value;
  return r;
}
inline VARIANT I2(SHORT v) { return Variant(VT_I2, &VARIANT::iVal, v); }
inline VARIANT I4(LONG v) { return Variant(VT_I4, &VARIANT::lVal, v); }
inline VARIANT R8(double v) { return Variant(VT_R8, &VARIANT::dblVal, v); }
inline VARIANT Text(const OLECHAR* t) { return Variant(VT_BSTR, &VARIANT::bstrVal, SysAllocString(t)); }

}  // namespace testing_support
