// Method items and run control on a connected session: the exact server
// calls, the shared flags, the waits, the network check every n-th call,
// the end of a method seen by the elapsed time, and a server error turned
// into the translated exception.
#include <thread>

#include "platform/clock/clock.h"
#include "platform/win/windows.h"
#include "tests/server/server_world.h"

namespace {

using server_testing::TestUnit;

class RunControlTest : public server_testing::ServerWorld {
 protected:
  void SetUp() override {
    ServerWorld::SetUp();
    unit = std::make_unique<TestUnit>();
    ASSERT_EQ(unit->InitialiseComms(), 1);
    unit->SetAcquistionLength(1.0);
    NewCalls();
  }
  void TearDown() override {
    unit.reset();
    ServerWorld::TearDown();
  }
  std::int64_t Now() const { return platform::Clock::Get().NowMs(); }
  std::string NotReady(TestUnit& u) {
    int error = 0, flag = 0;
    CString errorText, text;
    u.SystemNotReady(error, errorText, flag, text);
    return std::to_string(flag) + ":" + text.str();
  }
  // `count` checks of the unit's system state, in order.
  std::string Checks(TestUnit& u, int count) {
    std::string all;
    for (int i = 0; i < count; ++i) all += NotReady(u) + "|";
    return all;
  }

  std::unique_ptr<TestUnit> unit;
};

TEST_F(RunControlTest, MethodItemsForTheUnitAndForTheNetworkBox) {
  EXPECT_EQ(unit->WriteNewMethodItem(-1.0, HplcFuncFlow, 1.5, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(unit->WriteNewMethodItem(2.0, HplcFuncNetBoxValves, 3, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{
                            "Method.AddItem(1, 1)", "Item.SetTime(-1)", "Item.SetUnitType(1)", "Item.SetFunction(0)",
                            "Item.SetParameters(1.5, 0, 0, 0, 0, 0)", "Method.AddItem(0, 0)", "Item.SetTime(2)",
                            "Item.SetUnitType(0)", "Item.SetFunction(6)", "Item.SetParameters(3, 0, 0, 0, 0, 0)"}));
  server.FailForTesting("Item.SetUnitType", E_FAIL);  // ignored
  server.FailForTesting("Item.SetFunction", E_FAIL, 1);
  EXPECT_EQ(unit->WriteNewMethodItem(1.0, HplcFuncComposition, 50, 30, 0, 20, 0, 0), 0);
  EXPECT_EQ(unit->WriteNewMethodItem(1.0, HplcFuncComposition, 50, 30, 0, 20, 0, 0), 1);
  EXPECT_EQ(server.CurrentMethod().items.size(), 4u);
  CCommon::GetInstance().ResetMethod();
  EXPECT_EQ(NewCalls().back(), "Sequence.SetMethodName(\"Korvatec_Method\")");
  EXPECT_TRUE(server.CurrentMethod().items.empty());
  server.FailForTesting("Method.AddItem", E_FAIL, 1);
  EXPECT_EQ(unit->WriteNewMethodItem(1.0, HplcFuncFlow, 1, 0, 0, 0, 0, 0), 0);
  server.FailForTesting("Item.SetTime", E_FAIL, 1);
  NewCalls();
  EXPECT_EQ(unit->WriteNewMethodItem(1.0, HplcFuncFlow, 1, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"Method.AddItem(1, 1)", "Item.SetTime(1)"}));
}

TEST_F(RunControlTest, RunStopAndTheFlags) {
  EXPECT_EQ(unit->Stop(), 1);  // nothing started: no call, no wait
  EXPECT_TRUE(NewCalls().empty());
  EXPECT_EQ(unit->Run(), 1);
  EXPECT_EQ(NewCalls(),
            (std::vector<std::string>{"Method.SetRunLength(1)", "Sequence.SetRunLength(1)", "Session.StartRun()"}));
  EXPECT_EQ(unit->HasStartedInitial() * 10 + unit->HasStartedRun(), 11);
  Sleep(100);
  EXPECT_EQ(unit->IsMethodRunning(), 1);
  server.FailForTesting("Session.EndRun", E_FAIL, 1);
  server.SendErrorEventForTesting(5, 0, 64, "Waste");
  const std::int64_t before = Now();
  EXPECT_EQ(unit->Stop(), 0);  // no wait, flags kept, error reset asked for
  EXPECT_EQ(Now(), before);
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"Session.EndRun()", "Session.ResetError()"}));
  EXPECT_EQ(unit->HasStartedRun(), 1);
  CCommon::GetInstance().CloseServer();  // the error stays until the next session
  EXPECT_EQ(unit->InitialiseComms(), 1);
  NewCalls();
  EXPECT_EQ(unit->Stop(), 1);
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"Session.EndRun()", "Session.EndMethod()"}));
  EXPECT_EQ(unit->HasStartedInitial() + unit->HasStartedRun() + unit->IsMethodRunning(), 0);
}

TEST_F(RunControlTest, StopWaitsFiveSecondsAfterAStop) {
  ASSERT_EQ(unit->Run(), 1);
  const std::int64_t before = Now();
  EXPECT_EQ(unit->Stop(), 1);
  EXPECT_EQ(Now() - before, 5000);
}

TEST_F(RunControlTest, FailedRunLengthStillMarksTheInitialConditionsSent) {
  server.FailForTesting("Sequence.SetRunLength", E_FAIL);
  server.SetNetBoxStateForTesting(8);
  EXPECT_EQ(unit->RunInitialConditions(), 0);
  EXPECT_EQ(unit->HasStartedInitial(), 1);
  NewCalls();
  EXPECT_EQ(unit->RunInitialConditions(), 1);  // state 8: starts nothing
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"Method.SetRunLength(1)", "Sequence.SetRunLength(1)",
                                                  "NetBox.GetState()"}));
  EXPECT_EQ(unit->Run(), 1);
  EXPECT_EQ(NewCalls().back(), "Session.StartRun()");
  server.SetNetBoxStateForTesting(0);
  EXPECT_EQ(unit->StopRun(), 1);
  EXPECT_EQ(unit->HasStartedInitial() + unit->HasStartedRun(), 0);
  EXPECT_EQ(unit->RunInitialConditions(), 0);  // a fresh first run: the failure counts again
  EXPECT_EQ(NewCalls().back(), "Sequence.SetRunLength(1)");
  EXPECT_EQ(unit->RunInitialConditions(), 1);  // the pumps still deliver (state 2): nothing started
  EXPECT_EQ(NewCalls().back(), "NetBox.GetState()");
  EXPECT_EQ(unit->StopMethod(), 1);
  EXPECT_EQ(unit->RunInitialConditions(), 1);
  EXPECT_EQ(NewCalls().back(), "Session.StartInitial()");
}

TEST_F(RunControlTest, ElapsedTimeNoticesTheEndOfTheMethod) {
  ASSERT_EQ(unit->Run(), 1);
  Sleep(300);
  EXPECT_EQ(unit->ElapsedAnalysisTime(), 0.0f);  // 0.005 min reads as 0
  Sleep(29700);
  EXPECT_EQ(unit->ElapsedAnalysisTime(), 0.5f);
  NewCalls();
  Sleep(30000);  // the run ends at 1 min: the server reports it
  EXPECT_EQ(unit->ElapsedAnalysisTime(), 0.0f);
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"NetBox.GetElapsedTime()", "Session.EndMethod()"}));
  EXPECT_EQ(unit->ElapsedAnalysisTime(), 0.0f);
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"NetBox.GetElapsedTime()"}));
}

TEST_F(RunControlTest, NetworkCheckEveryNthCallOverAllUnits) {
  TestUnit second(5, IID_ITavixAutosampler2, "Autosampler");
  TestUnit third(4, IID_ITavix_DET_UV2, "UV");
  EXPECT_EQ(NotReady(third), "1:Network connections not initialised or not responding");  // never found
  ASSERT_EQ(second.InitialiseComms(), 1);
  NewCalls();
  std::string flags;
  for (int i = 0; i < 7; ++i) flags += NotReady(i % 2 ? *unit : second).substr(0, 1);
  EXPECT_EQ(flags, "0000000");
  const auto calls = NewCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "NetBoxUnit.GetIdentification()"), 2);  // 4th and 7th
  server.SendMessageForTesting(1033);
  EXPECT_EQ(Checks(*unit, 3), "0:|1:Network connections not initialised or not responding|0:|");
  CCommon::GetInstance().CloseServer();
  EXPECT_EQ(Checks(*unit, 2), "0:|1:Error intialising server|");
  // Unconnected: the stops succeed and nothing else starts, without a call.
  NewCalls();
  EXPECT_EQ(unit->StopMethod() * 100 + unit->StopRun() * 10 + unit->PureStop(), 111);
  EXPECT_EQ(unit->Run() + unit->RunInitialConditions() + unit->WriteNewMethodItem(0, HplcFuncFlow, 1, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(unit->ElapsedAnalysisTime(), 0.0f);
  EXPECT_TRUE(NewCalls().empty());
}

TEST_F(RunControlTest, StepDataIsAcknowledgedOnce) {
  server.SendMessageForTesting(66565);
  NotReady(*unit);
  NotReady(*unit);
  const auto calls = NewCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Session.AcknowledgeStepData()"), 1);
}

TEST_F(RunControlTest, ServerErrorThrowsItsTranslationUntilTheNextSession) {
  ASSERT_EQ(unit->Run(), 1);
  server.SendErrorEventForTesting(1, 1, 3, "Pump over pressure");
  NewCalls();
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      unit->GetUnitInterface();
      FAIL() << "no exception";
    } catch (const CCommunicationsException& e) {
      EXPECT_EQ(e.GetErrorMessage(), CString("Pump over pressure!\n"));
    }
    EXPECT_EQ(server.LiveObjects(), 1);  // the unit keeps its own unit object
    EXPECT_EQ(server.AdvisedSinks(), 0);
  }
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"Session.ResetError()", "Session.EndRun()", "Session.EndMethod()",
                                                  "Session.Unadvise(1)", "Session.Close()"}));
  EXPECT_EQ(unit->InitialiseComms(), 1);  // a new session clears the error
  EXPECT_NE(unit->GetUnitInterface(), nullptr);
}

// The server thread fires while the host thread queries: the sink's record
// is the only shared state (run under ThreadSanitizer).
TEST_F(RunControlTest, EventsFromTheServerThreadWhileTheHostPolls) {
  std::thread firer([&] {
    for (int i = 0; i < 300; ++i) server.SendMessageForTesting(i % 2 ? 1025 : 66565);
  });
  int seen = 0;
  for (int i = 0; i < 300; ++i) {
    seen += unit->IsMethodRunning();
    seen += NotReady(*unit)[0] - '0';
  }
  firer.join();
  EXPECT_GE(seen, 0);
  EXPECT_EQ(unit->IsMethodRunning(), 1);
}

}  // namespace
