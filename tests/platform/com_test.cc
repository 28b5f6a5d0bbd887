// The COM stand-in: BSTR layout and allocation failure, the shared BSTR
// wrapper, VARIANT conversions, the class and type-library registries.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/comdef.h"
#include "tests/support/variants.h"

namespace {

using testing_support::I4;
using testing_support::R8;
using testing_support::Text;

using platform::com::ToUtf8;

const GUID kLib = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID kEvents = {0x44444444, 0x5555, 0x6666, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(BstrTest, LengthPrefixTerminatorAndFailure) {
#if !defined(_WIN32)  // the system's allocator has no failure or count hooks
  const long live = platform::com::LiveBstrCountForTesting();
#endif
  BSTR text = SysAllocStringLen(OLESTR("abc"), 2);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 2u);
  EXPECT_EQ(SysStringByteLen(text), 4u);
  EXPECT_EQ(text[2], 0);
  SysFreeString(text);
  EXPECT_EQ(SysStringLen(nullptr), 0u);

#if !defined(_WIN32)
  platform::com::FailBstrAllocationsForTesting(1);
  try {
    _bstr_t name(OLESTR("Korvatec_Method"));
    FAIL() << "no error raised";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_OUTOFMEMORY);
  }
  _bstr_t after(OLESTR("x"));  // only one allocation failed
  EXPECT_EQ(after.length(), 1u);
  after = _bstr_t();
  EXPECT_EQ(platform::com::LiveBstrCountForTesting(), live);
#endif
}

TEST(BstrTest, CopiesShareOneTextAndWidenWindows1252) {
  _bstr_t a("\x80 \xB5\x81"), b = a;  // 0x81 has no character: a control of its value
  EXPECT_EQ(static_cast<const OLECHAR*>(a), static_cast<const OLECHAR*>(b));
  EXPECT_EQ(ToUtf8(a), "\u20AC \u00B5\u0081");
  // UTF-8 and back at the edges of the one-, two- and three-byte forms; an
  // overlong form is not UTF-8, each of its bytes one U+FFFD.
  const platform::com::OleString edges{0x7F, 0x80, 0x7FF, 0x800, 0xFFFF};
  EXPECT_EQ(ToUtf8(edges.c_str()), "\x7F\u0080\u07FF\u0800\uFFFF");
  EXPECT_EQ(platform::com::FromUtf8("\x7F\u0080\u07FF\u0800\uFFFF"), edges);
  EXPECT_EQ(platform::com::FromUtf8("\xC0\xB5"), platform::com::OleString(2, 0xFFFD));
  BSTR owned = b.Detach();  // shared: the caller gets its own copy
  EXPECT_NE(owned, static_cast<const OLECHAR*>(a));
  EXPECT_TRUE(!b);
  SysFreeString(owned);
  EXPECT_TRUE(!_bstr_t());
}

struct Conversion {
  VARIANT (*make)();
  VARTYPE to;
  HRESULT hr;
  std::string text;  // the result printed, for successes
};

std::string Print(const VARIANT& v) {
  switch (v.vt) {
    case VT_I2: return std::to_string(v.iVal);
    case VT_I4: return std::to_string(v.lVal);
    case VT_BSTR: return "'" + ToUtf8(v.bstrVal) + "'";
    case VT_R8: return std::to_string(v.dblVal);
    case VT_I8: return std::to_string(v.llVal);
    default: return "vt" + std::to_string(v.vt);
  }
}

class VariantChangeTypeTest : public ::testing::TestWithParam<Conversion> {};

TEST_P(VariantChangeTypeTest, ConvertsOrLeavesTheTargetAlone) {
  const Conversion& c = GetParam();
  VARIANT source = c.make();
  VARIANT dest = I4(-7);
  EXPECT_EQ(VariantChangeType(&dest, &source, 0, c.to), c.hr);
  EXPECT_EQ(Print(dest), SUCCEEDED(c.hr) ? c.text : "-7");
  // In place, as the event sink converts its copies.
  EXPECT_EQ(VariantChangeType(&source, &source, 0, c.to), c.hr);
  if (SUCCEEDED(c.hr)) {
    EXPECT_EQ(Print(source), c.text);
  }
  VariantClear(&source);
  VariantClear(&dest);
}

const Conversion kConversions[] = {
    Conversion{[] { return I4(66565); }, VT_I4, S_OK, "66565"},
    Conversion{[] { return I4(66565); }, VT_I2, DISP_E_OVERFLOW, ""},
    Conversion{[] { return R8(2.5); }, VT_I2, S_OK, "2"},
    Conversion{[] { return R8(3.5); }, VT_I2, S_OK, "4"},
    Conversion{[] { return Text(OLESTR(" 1025 ")); }, VT_I4, S_OK, "1025"},
    Conversion{[] { return Text(OLESTR("pump")); }, VT_I2, DISP_E_TYPEMISMATCH, ""},
    Conversion{[] { return Text(OLESTR(" -9007199254740993 ")); }, VT_I8, S_OK, "-9007199254740993"},
    Conversion{[] { return Text(OLESTR("9223372036854775808")); }, VT_I8, DISP_E_OVERFLOW, ""},
    Conversion{[] { return R8(9223372036854775808.0); }, VT_I8, DISP_E_OVERFLOW, ""},
    Conversion{[] { return I4(-32768); }, VT_I2, S_OK, "-32768"},
    Conversion{[] { return I4(128); }, VT_I1, DISP_E_OVERFLOW, ""},
    Conversion{[] { return I4(1033); }, VT_BSTR, S_OK, "'1033'"},
    Conversion{[] { return R8(0.25); }, VT_BSTR, S_OK, "'0.25'"},
    Conversion{[] { VARIANT v; VariantInit(&v); return v; }, VT_BSTR, S_OK, "''"},
    Conversion{[] { VARIANT v; VariantInit(&v); v.vt = VT_NULL; return v; }, VT_I2, DISP_E_TYPEMISMATCH, ""},
#if !defined(_WIN32)  // a reference to nothing: the system's answer differs between its implementations
    Conversion{[] { VARIANT v; VariantInit(&v); v.vt = 0x4002; return v; }, VT_I2, DISP_E_BADVARTYPE, ""},
#endif
};
INSTANTIATE_TEST_SUITE_P(Table, VariantChangeTypeTest, ::testing::ValuesIn(kConversions));

// A class whose factory records what it was asked for.
IID g_asked;
HRESULT Factory(REFIID riid, void** ppv) {
  g_asked = riid;
  *ppv = nullptr;
  return E_NOINTERFACE;
}

TEST(ComRegistryTest, CreatesOnlyRegisteredClassesWithoutAggregation) {
  void* object = &object;
  EXPECT_EQ(CoCreateInstance(kLib, nullptr, CLSCTX_ALL, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  platform::com::RegisterClassObject(kLib, &Factory);
#if !defined(_WIN32)  // the stand-in's classes are local servers only
  EXPECT_EQ(CoCreateInstance(kLib, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object), REGDB_E_CLASSNOTREG);
#endif
  EXPECT_EQ(CoCreateInstance(kLib, nullptr, CLSCTX_ALL, IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(g_asked, IID_IDispatch);
  auto* outer = reinterpret_cast<IUnknown*>(&object);
  EXPECT_EQ(CoCreateInstance(kLib, outer, CLSCTX_ALL, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  platform::com::RegisterClassObject(kLib, nullptr);
}

TEST(ComRegistryTest, TypeLibraryNamesByVersionWithoutRegardToCase) {
  ITypeLib* lib = nullptr;
  EXPECT_EQ(LoadRegTypeLib(kLib, 1, 0, 0x409, &lib), TYPE_E_LIBNOTREGISTERED);
  platform::com::RegisterTypeLib(kLib, 1, 0, {{kEvents, {{OLESTR("HplcMessage"), 1}, {OLESTR("ErrorEvent"), 4}}}});
  EXPECT_EQ(LoadRegTypeLib(kLib, 2, 0, 0x409, &lib), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(LoadRegTypeLib(kLib, 1, 1, 0x409, &lib), TYPE_E_LIBNOTREGISTERED);
  ASSERT_EQ(LoadRegTypeLib(kLib, 1, 0, 0x409, &lib), S_OK);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_IDispatch, &info), TYPE_E_ELEMENTNOTFOUND);
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kEvents, &info), S_OK);
  OLECHAR name1[] = OLESTR("errorevent"), name2[] = OLESTR("Nothing");
  LPOLESTR names[] = {name1, name2};
  DISPID ids[2] = {};
  EXPECT_EQ(DispGetIDsOfNames(info, names, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 4);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  info->Release();
  lib->Release();
  platform::com::UnregisterTypeLib(kLib, 1);
}

}  // namespace
