// The simulated instrument server through its COM interfaces: events from
// its own thread at deterministic times, runs built from method items,
// injected results and unit timing.
#include "sim/simulated_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/com/afxctl.h"
#include "platform/com/comdef.h"
#include "platform/win/windows.h"
#include "sim/control.h"
#include "tests/support/test_world.h"

namespace {

using platform::com::ToUtf8;

// A sink that records every Invoke: dispatch id, argument types and
// values (first parameter first), the clock time and the thread. Only the
// server's thread calls Invoke; the test reads the log once a sleep or a
// call has returned, which waits for every delivery.
class RecordingSink final : public IDispatch {
 public:
  virtual ~RecordingSink() = default;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (m_bCallServer) sim::SimulatedServer::Get().AdvisedSinks();  // the server's lock is free
    if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    *ppv = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    if (m_bCallServer) sim::SimulatedServer::Get().AdvisedSinks();
    return --m_refs;
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    std::string text = std::to_string(id) + ":";
    for (UINT i = params->cArgs; i-- > 0;) {
      const VARIANT& v = params->rgvarg[i];
      text += v.vt == VT_I2 ? " i2=" + std::to_string(v.iVal)
              : v.vt == VT_I4 ? " i4=" + std::to_string(v.lVal)
                              : " s='" + ToUtf8(v.bstrVal) + "'";
    }
    log.push_back(text + " @" + std::to_string(platform::Clock::Get().NowMs()));
    threads.push_back(GetCurrentThreadId());
    return S_OK;
  }
  ULONG m_refs = 0;
  bool m_bCallServer = false;  // its QueryInterface and Release call the server
  std::vector<std::string> log;
  std::vector<DWORD> threads;
};

class SimulatedServerTest : public testing_support::TestWorld {
 protected:
  void SetUp() override {
    TestWorld::SetUp();
    server.ResetForTesting();
    server.FitHydraulics(sim::Hydraulics::Instant());  // the liquid path has tests of its own
    ASSERT_EQ(CoCreateInstance(CLSID_TavixServer, nullptr, CLSCTX_ALL, IID_ITavixServer,
                               reinterpret_cast<void**>(&root)),
              S_OK);
    ASSERT_EQ(root->CreateSession(0, &session), S_OK);
    ASSERT_TRUE(AfxConnectionAdvise(session, DIID__ITavixSession2Events, &sink, FALSE, &cookie));
  }
  void TearDown() override {
    EXPECT_TRUE(AfxConnectionUnadvise(session, DIID__ITavixSession2Events, &sink, FALSE, cookie));
    session->Release();
    root->Release();
    EXPECT_EQ(sink.m_refs, 0u);
    EXPECT_EQ(server.LiveObjects(), 0);
    TestWorld::TearDown();
  }
  void Open() {
    _bstr_t user(OLESTR("1"));
    ASSERT_EQ(session->Open(user), S_OK);
  }

  sim::SimulatedServer& server = sim::SimulatedServer::Get();
  ITavixServer* root = nullptr;
  ITavixSession2* session = nullptr;
  RecordingSink sink;
  DWORD cookie = 0;
};

// The session hands itself out as its connection point and answers as one;
// it holds no lock while it calls a sink's QueryInterface or Release.
// The simulators' control quiets the logs of the simulator it names only.
TEST_F(SimulatedServerTest, TheControlQuietsTheLogsOfTheSimulatorItNames) {
  sim::InProcessControl().KeepLogs(sim::Side::kNetwork, false);
  server.ClearCallsForTesting();
  Open();
  EXPECT_EQ(server.Calls(), std::vector<std::string>{"Session.Open(\"1\")"});
  sim::InProcessControl().KeepLogs(sim::Side::kServer, false);
  server.ClearCallsForTesting();
  Open();
  EXPECT_TRUE(server.Calls().empty());
}

TEST_F(SimulatedServerTest, TheSessionIsItsOwnConnectionPointAndCallsSinksWithoutItsLock) {
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(session->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
  IConnectionPoint* point = nullptr;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ITavixSession2Events, &point), S_OK);
  IConnectionPoint* asked = nullptr;
  EXPECT_EQ(session->QueryInterface(IID_IConnectionPoint, reinterpret_cast<void**>(&asked)), S_OK);
  EXPECT_EQ(asked, point);
  RecordingSink calling;
  calling.m_bCallServer = true;
  DWORD second = 0;
  EXPECT_EQ(point->Advise(&calling, &second), S_OK);
  EXPECT_EQ(server.AdvisedSinks(), 2);
  EXPECT_EQ(point->Unadvise(second), S_OK);
  for (IUnknown* held : std::vector<IUnknown*>{container, point, asked}) held->Release();
  ITavixSession2* other = nullptr;
  ASSERT_EQ(root->CreateSession(0, &other), S_OK);
  ASSERT_TRUE(AfxConnectionAdvise(other, DIID__ITavixSession2Events, &calling, TRUE, &second));
  other->Release();  // and with it the sink
  EXPECT_EQ(server.AdvisedSinks(), 1);
  EXPECT_EQ(calling.m_refs, 0u);
}

TEST_F(SimulatedServerTest, RunsTheMethodItemsOnTheInstruments) {
  Open();
  ITavixSequence* sequence = nullptr;
  ITavixMethod2* method = nullptr;
  ASSERT_EQ(session->GetSequence(&sequence), S_OK);
  ASSERT_EQ(sequence->AddMethod(&method), S_OK);
  auto item = [&](double time, HplcMethodFunc f, double p1, double p2 = 0, double p3 = 0, double p4 = 0) {
    ITavixMethodItem2* it = nullptr;
    ASSERT_EQ(method->AddItem(1, 1, &it), S_OK);
    it->SetTime(time);
    it->SetFunction(f);
    it->SetParameters(p1, p2, p3, p4, 0, 0);
    it->Release();
  };
  item(-1, HplcFuncFlow, 1.0);
  item(-1, HplcFuncComposition, 10, 30, 50, 10);  // D from its own bottle
  server.FillBottles({"", "", "", "isopropanol"});
  item(-1, HplcFuncMaxPressure, 35.0, 1.0);  // MPa: the pumps' limits in bar
  item(-1, HplcFuncMinPressure, 0.5, 1.0);
  item(0.5, HplcFuncFlow, 3.0);  // two items at one time: the later one holds
  item(0.5, HplcFuncFlow, 2.0);
  method->SetRunLength(1.0);
  ASSERT_EQ(session->StartRun(), S_OK);
  Sleep(30000);
  EXPECT_EQ(server.InstrumentsNow().ReadPump(0).upperLimitBar, 350);
  EXPECT_EQ(server.InstrumentsNow().ReadPump(0).lowerLimitBar, 5);
  const sim::Bottles bottles{sim::Solvent::kWater, sim::Solvent::kMethanol, sim::Solvent::kAcetonitrile,
                             sim::Solvent::kIsopropanol};
  EXPECT_NEAR(server.InstrumentsNow().ReadPump(0).pressureBar,
              sim::InstrumentModel::PressureBar(2000, {10, 30, 50, 10}, 25, bottles), 0.01);
  ITavixUnits* units = nullptr;
  ITavixUnit2* unit = nullptr;
  ITavixPump2* pump = nullptr;
  ITavixNetBox* box = nullptr;
  ASSERT_EQ(session->GetUnits(&units), S_OK);
  ASSERT_EQ(units->GetUnit(1, 1, &unit), S_OK);
  ASSERT_EQ(unit->QueryInterface(IID_ITavixPump2, reinterpret_cast<void**>(&pump)), S_OK);
  EXPECT_EQ(unit->QueryInterface(IID_ITavixOven, reinterpret_cast<void**>(&box)), E_NOINTERFACE);
  double flow = 0, minutes = 0, percent = 0;
  pump->GetFlow(&flow);
  EXPECT_DOUBLE_EQ(flow, 2.0);
  ITavixSolvents* solvents = nullptr;
  ITavixSolvent* channel = nullptr;
  LONG count = 0;
  ASSERT_EQ(pump->GetSolvents(&solvents), S_OK);
  solvents->GetCount(&count);
  EXPECT_EQ(count, 4);
  for (LONG i : {2, 3}) {  // C and D, the third and fourth parameters
    ASSERT_EQ(solvents->GetSolvent(i, &channel), S_OK);
    channel->GetPercent(&percent);
    EXPECT_DOUBLE_EQ(percent, i == 2 ? 50.0 : 10.0);
    channel->Release();
  }
  solvents->Release();
  ITavixUnit2* boxUnit = nullptr;
  ASSERT_EQ(units->GetUnit(0, 0, &boxUnit), S_OK);
  ASSERT_EQ(boxUnit->QueryInterface(IID_ITavixNetBox, reinterpret_cast<void**>(&box)), S_OK);
  box->GetElapsedTime(&minutes);
  EXPECT_DOUBLE_EQ(minutes, 0.5);
  Sleep(30000);
  server.SendErrorEvent(1, 1, 2, "Pump over pressure");
  // Each event at its time (a call's 10 ms after it), from the server's thread.
  EXPECT_EQ(sink.log, (std::vector<std::string>{"1: i2=0 i2=0 i4=1024 s='Connected' s='' @10",
                                                  "1: i2=0 i2=0 i4=1025 s='Method running' s='' @10",
                                                  "1: i2=5 i2=1 i4=1028 s='Autosampler ready' s='' @2500",
                                                  "1: i2=0 i2=0 i4=1026 s='Run ended' s='' @60000",
                                                  "4: i2=1 i2=1 i2=2 s='Pump over pressure' @60000"}));
  EXPECT_NE(sink.threads[0], GetCurrentThreadId());
  EXPECT_EQ(std::count(sink.threads.begin(), sink.threads.end(), sink.threads[0]), 5);
  for (IUnknown* p : std::vector<IUnknown*>{box, boxUnit, pump, unit, units, method, sequence}) p->Release();
}

TEST_F(SimulatedServerTest, InjectedResultsAndLateUnits) {
  server.FailCall("Session.GetUnits", S_FALSE, 1);
  server.FailCall("Units.GetUnit", E_FAIL, 1);
  server.SetUnitTiming(5, 1, 300, 500);
  Open();
  ITavixUnits* units = nullptr;
  ASSERT_EQ(session->GetUnits(&units), S_FALSE);  // a success code: the object comes too
  ITavixUnit2* unit = reinterpret_cast<ITavixUnit2*>(&unit);
  EXPECT_EQ(units->GetUnit(5, 1, &unit), E_FAIL);
  EXPECT_EQ(unit, nullptr);
  for (auto [type, number] : {std::pair{0, 1}, {1, 0}, {1, 4}, {2, 1}}) {
    EXPECT_EQ(units->GetUnit(type, static_cast<SHORT>(number), &unit), E_FAIL) << type << "/" << number;
  }
  ASSERT_EQ(units->GetUnit(5, 1, &unit), S_OK);
  LONG status = -1;
  SHORT connected = -1;
  std::vector<std::string> seen;
  for (int ms : {299, 1, 199, 1}) {
    Sleep(static_cast<DWORD>(ms));
    unit->GetStatus(&status);
    unit->GetConnected(&connected);
    seen.push_back(std::to_string(status) + "/" + std::to_string(connected));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"0/0", "1073741825/0", "1073741825/0", "1073741825/1"}));
  unit->Release();
  units->Release();
}

}  // namespace
