// The event sink as the server calls it (Invoke with VARIANT arguments,
// last first) and as the units query it; the error translation table.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "server/event_sink.h"
#include "sim/simulated_server.h"
#include "tests/support/variants.h"

namespace {

using testing_support::I2;
using testing_support::I4;
using testing_support::Text;


// Invokes `id` with `args` given first parameter first, as a server does.
HRESULT Fire(CEventSink& sink, DISPID id, std::vector<VARIANT> args, REFIID riid = IID_NULL) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  const HRESULT hr = sink.Invoke(id, riid, 0x409, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  for (VARIANT& v : reversed) VariantClear(&v);
  return hr;
}
HRESULT Message(CEventSink& sink, LONG code) {
  return Fire(sink, 1, {I2(0), I2(0), I4(code), Text(OLESTR("m")), Text(OLESTR(""))});
}
std::string State(CEventSink& sink) {  // comms, running, error, step data (taken)
  return std::to_string(sink.CommsOK()) + std::to_string(sink.MethodRunning()) + std::to_string(sink.IsInError()) +
         std::to_string(sink.StepDataEventReceived());
}

TEST(EventSinkTest, MessageCodesChangeTheRecordByTheTable) {
  CEventSink sink(1);
  EXPECT_EQ(State(sink), "0000");
  const std::vector<std::pair<LONG, std::string>> steps = {
      {1025, "1100"}, {1033, "0100"}, {66565, "0101"}, {1024, "1000"}, {1033, "0000"},
      {7, "1000"},    {1025, "1100"}, {1026, "1000"},  {1025, "1100"}, {1027, "1000"},
      {1025, "1100"}, {1029, "1000"}, {1025, "1100"},  {1032, "1000"}};
  for (const auto& [code, state] : steps) {
    EXPECT_EQ(Message(sink, code), S_OK);
    EXPECT_EQ(State(sink), state) << "after " << code;
  }
}

TEST(EventSinkTest, OtherIdentifiersCountsAndBadArgumentsChangeNothingHarmful) {
  CEventSink sink(1);
  EXPECT_EQ(Message(sink, 1025), S_OK);
  for (DISPID id : {2, 3, 5, 0, 99}) {
    EXPECT_EQ(Fire(sink, id, {I2(1), I2(1), I4(1033), Text(OLESTR("")), Text(OLESTR(""))}), S_OK);
  }
  EXPECT_EQ(Fire(sink, 1, {I2(0), I2(0), I4(1033), Text(OLESTR("")), Text(OLESTR(""))}, IID_IDispatch),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(Fire(sink, 1, {I2(0), I2(0), I4(1033)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Fire(sink, 4, {I2(1), I2(0), I2(2), Text(OLESTR("")), I2(0)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(sink.Invoke(1, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(State(sink), "1100");
  // A code that does not convert counts as 0 (any other code: comms up).
  EXPECT_EQ(Message(sink, 1033), S_OK);
  EXPECT_EQ(Fire(sink, 1, {Text(OLESTR("x")), I2(0), Text(OLESTR("pump")), I4(5), I4(6)}), S_OK);
  EXPECT_EQ(State(sink), "1100");
  // Error bits given as text convert; an unconvertible text is empty.
  EXPECT_EQ(Fire(sink, 4, {I4(1), I4(7), Text(OLESTR("3")), I2(1)}), S_OK);
  const SErrorData error = sink.GetErrorData();
  EXPECT_EQ(std::tuple(error.nUnitType, error.nSubCode, error.nErrorBits), std::tuple(1, 7, 3));
  EXPECT_EQ(platform::com::ToUtf8(error.bstrText), "1");
  EXPECT_EQ(Fire(sink, 4, {I4(70000), I2(0), I2(1), Text(OLESTR("over"))}), S_OK);
  EXPECT_EQ(sink.GetErrorData().nUnitType, 0);  // out of range: 0
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  EXPECT_EQ(Fire(sink, 4, {I2(6), I2(0), I2(1), null}), S_OK);
  EXPECT_EQ(sink.GetErrorData().nUnitType, 6);
  EXPECT_EQ(platform::com::ToUtf8(sink.GetErrorData().bstrText), "");
}

// Connect advises once; Disconnect forgets the cookie even when the
// server refuses to unadvise.
TEST(EventSinkTest, ConnectsOnceAndForgetsTheCookieWhateverUnadviseSays) {
  sim::SimulatedServer& server = sim::SimulatedServer::Get();
  server.ResetForTesting();
  ITavixServer* root = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TavixServer, nullptr, CLSCTX_ALL, IID_ITavixServer,
                             reinterpret_cast<void**>(&root)),
            S_OK);
  ITavixSession2* session = nullptr;
  ASSERT_EQ(root->CreateSession(0, &session), S_OK);
  {
    CEventSink sink(1);
    EXPECT_NE(sink.Connect(session), 0);
    EXPECT_EQ(sink.Connect(session), 0);
    EXPECT_EQ(server.AdvisedSinks(), 1);
    server.FailCall("Session.Unadvise", E_FAIL, 1);
    EXPECT_EQ(sink.Disconnect(session), 0);
    EXPECT_EQ(sink.Disconnect(session), 1);  // no cookie: nothing asked
    EXPECT_NE(sink.Connect(session), 0);
    EXPECT_EQ(server.AdvisedSinks(), 2);
    session->Release();  // the server lets go of both advises
  }
  root->Release();
  EXPECT_EQ(server.LiveObjects(), 0);
}

TEST(EventSinkTest, ClearErrorKeepsTheOtherFields) {
  CEventSink sink(1);
  Message(sink, 1025);
  Message(sink, 66565);
  EXPECT_EQ(Fire(sink, 4, {I2(1), I2(2), I2(2), Text(OLESTR("Pump over pressure"))}), S_OK);
  EXPECT_EQ(sink.IsInError(), 1);
  sink.ClearError();
  EXPECT_EQ(State(sink), "1101");
  const SErrorData cleared = sink.GetErrorData();
  EXPECT_EQ(cleared.nUnitType + cleared.nSubCode + cleared.nErrorBits, 0);
  EXPECT_TRUE(!cleared.bstrText);
  EXPECT_EQ(sink.StepDataEventReceived(), 0);  // taken once only
}

TEST(EventSinkTest, DispatchPlumbing) {
  sim::SimulatedServer::Register();  // the server's type library
  auto* sink = new CEventSink(0);
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  void* other = sink;
  EXPECT_EQ(sink->QueryInterface(IID_ITavixServer, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0x409, &info), static_cast<HRESULT>(0x8002802B));
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0x409, nullptr), E_POINTER);
  OLECHAR name[] = OLESTR("ErrorEvent");
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_IDispatch, names, 1, 0x409, &id), DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0x809, &id), S_OK);  // another English locale
  EXPECT_EQ(id, 4);
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(dispatch->Release(), 0u);  // deleted: asan reports a leak otherwise
}

// Each unit type's error bits, as lines of text.
TEST(EventSinkTest, TranslationGivesTheLinesOfTheSetBits) {
  for (auto [unitType, bits, expected] :
       {std::tuple<short, WORD, const char*>{1, 0, ""}, {0, 0, ""}, {1, 3, "Pump over pressure!\n"},
        {1, 1, "Pump under pressure!\n"}, {1, 0x8000, "Pump in error!\n"},
        {0, 17, "External Input #1 error\nDone all steps\n"},
        {0, 0x060E,
         "External Input #2 error\nExternal Input #3 error\nExternal Input #4 error\nUnknown request id\n"
         "Analysis sequence error\n"},
        {0, 0x8000, "Network Error!\n"}, {0, 0x20 | 0x40, "Failed to complete all steps\nNetwork Error!\n"},
        {4, 1, "Autosampler: X axis error.\n"}, {5, 2, "Autosampler: Y axis error.\n"},
        {5, 4, "Autosampler: Z axis error.\n"}, {5, 8, "Autosampler: Injector error.\n"},
        {5, 16, "Syringe error.\n"}, {4, 32, "Autosampler: Stop error.\n"},
        {5, 64 | 1, "Waste bottle full.\n"}, {5, 128, "Autosampler in error.\n"},
        {6, 1, "Oven temperature too high!\n"}, {6, 3, "Leak in oven!\n"},
        {6, 4, "Oven in error!\n"}, {2, 1, "System in error\n"},
        {3, 2, "System in error\n"}, {-1, 1, "System in error\n"},
        {7, 0x8000, "System in error\n"}}) {
    SErrorData error;
    error.nUnitType = unitType;
    error.nErrorBits = bits;
    CString text("stale");
    CComError translator;
    EXPECT_EQ(translator.Translate(error, text), bits ? 1 : 0) << unitType << "/" << bits;
    EXPECT_EQ(text, CString(expected)) << unitType << "/" << bits;
  }
}

}  // namespace
