// VARIANT arguments as a server's events carry them, for tests and
// benchmarks of the event sink and the COM stand-in. The caller owns what
// it gets and clears it with VariantClear.
#pragma once

#include "platform/com/com.h"

namespace testing_support {

inline VARIANT I2(SHORT v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_I2;
  r.iVal = v;
  return r;
}
inline VARIANT I4(LONG v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_I4;
  r.lVal = v;
  return r;
}
inline VARIANT R8(double v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_R8;
  r.dblVal = v;
  return r;
}
inline VARIANT Text(const OLECHAR* t) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_BSTR;
  r.bstrVal = SysAllocString(t);
  return r;
}

}  // namespace testing_support
