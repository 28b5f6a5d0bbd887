// A clean server world for one test: the clock, registry and host UI of
// TestWorld, a fresh simulated server, no CCommon and the unit statics at
// their start values. A test unit stands in for the adapters. The
// transcript notes the server calls of each step (golden/ beside the tests);
// a test about time shows the clock (ShowTimes).
#pragma once

#include <gtest/gtest.h>

#include "server/com_setup.h"
#include "sim/simulated_server.h"
#include "tests/support/test_world.h"
#include "tests/support/transcript.h"

namespace server_testing {

// A unit adapter reduced to what every adapter does: connect, then find
// its unit through the interface `iid` under the name `name`.
class TestUnit : public CComSetup {
 public:
  explicit TestUnit(short type = 1, const IID& iid = IID_ITavixPump2, const char* name = "Pump")
      : CComSetup(type, 1), m_iid(iid), m_strName(name) {}
  ~TestUnit() override {
    if (m_pInterface) m_pInterface->Release();
  }
  int InitialiseComms() override {
    if (!CComSetup::InitialiseComms()) return 0;
    if (m_pInterface || GetUnitInterface()) return 1;
    return GetNewUnitPointers(m_iid, m_strName, reinterpret_cast<void**>(&m_pInterface));
  }
  using CComSetup::CheckForEventError;
  using CComSetup::GetUnitInterface;
  using CComSetup::PureStop;
  using CComSetup::StopMethod;
  using CComSetup::StopRun;
  using CComSetup::SystemNotReady;
  using CComSetup::WriteNewMethodItem;

  IUnknown* m_pInterface = nullptr;

 private:
  IID m_iid;
  CString m_strName;
};

class ServerWorld : public testing_support::TestWorld {
 protected:
  void SetUp() override {
    TestWorld::SetUp();
    CCommon::ResetForTesting();
    CComSetup::ResetForTesting();
    server.ResetForTesting();
    server.FitHydraulics(sim::Hydraulics::Instant());  // the liquid path has tests of its own
  }
  void TearDown() override {
    transcript.ExpectMatchesGolden("server");
    CCommon::ResetForTesting();
    EXPECT_EQ(server.LiveObjects(), 0) << "server objects still held";
    TestWorld::TearDown();
  }
  // The calls since the last look, kept in `lastCalls` (a noted step's).
  std::vector<std::string> NewCalls() {
    lastCalls = server.Calls();
    server.ClearCallsForTesting();
    return lastCalls;
  }
  // The next `times` calls of `operation` fail with `result` (-1: all).
  void Fail(const char* operation, HRESULT result = E_FAIL, int times = 1) {
    server.FailCall(operation, result, times);
    transcript.Say(std::string(operation) + " fails " + (times < 0 ? "from now on" : std::to_string(times) + "x"));
  }

  sim::SimulatedServer& server = sim::SimulatedServer::Get();
  std::vector<std::string> lastCalls;
  testing_support::Transcript transcript{[this] { return NewCalls(); }, false};
};

}  // namespace server_testing
