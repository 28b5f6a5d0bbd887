// Method items and run control on a connected session: the exact server
// calls, the shared flags, the waits, the network check every n-th call,
// the end of a method seen by the elapsed time, and a server error turned
// into the translated exception. Each test's transcript is in
// golden/RunControlTest/.
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
  std::string Flags() {
    const int initial = unit->HasStartedInitial(), run = unit->HasStartedRun(), running = unit->IsMethodRunning();
    return std::to_string(initial) + std::to_string(run) + std::to_string(running);
  }
  std::string NotReady(TestUnit& u) {
    int error = 0, flag = 0;
    CString errorText, text;
    u.SystemNotReady(error, errorText, flag, text);
    return std::to_string(flag) + ":" + text.str();
  }

  std::unique_ptr<TestUnit> unit;
};

TEST_F(RunControlTest, MethodItemsForTheUnitAndForTheNetworkBox) {
  NOTE(unit->WriteNewMethodItem(-1.0, HplcFuncFlow, 1.5, 0, 0, 0, 0, 0));
  NOTE(unit->WriteNewMethodItem(2.0, HplcFuncNetBoxValves, 3, 0, 0, 0, 0, 0));
  Fail("Item.SetUnitType", E_FAIL, -1);  // ignored
  Fail("Item.SetFunction");
  NOTE(unit->WriteNewMethodItem(1.0, HplcFuncComposition, 50, 30, 0, 20, 0, 0));
  NOTE(unit->WriteNewMethodItem(1.0, HplcFuncComposition, 50, 30, 0, 20, 0, 0));
  NOTE(server.CurrentMethod().items.size());
  NOTE(CCommon::GetInstance().ResetMethod());
  NOTE(server.CurrentMethod().items.size());
  Fail("Method.AddItem");
  NOTE(unit->WriteNewMethodItem(1.0, HplcFuncFlow, 1, 0, 0, 0, 0, 0));
  Fail("Item.SetTime");
  NOTE(unit->WriteNewMethodItem(1.0, HplcFuncFlow, 1, 0, 0, 0, 0, 0));
}

// The flags: started initial conditions, started run, method running.
TEST_F(RunControlTest, RunStopAndTheFlags) {
  transcript.ShowTimes();
  NOTE(unit->Stop());  // nothing started: no call, no wait
  NOTE(unit->Run());
  NOTE(Flags());
  Sleep(100);
  NOTE(Flags());
  Fail("Session.EndRun");
  server.SendErrorEventForTesting(5, 0, 64, "Waste");
  NOTE(unit->Stop());  // no wait, flags kept, error reset asked for
  NOTE(Flags());
  NOTE(CCommon::GetInstance().CloseServer());  // the error stays until the next session
  NOTE(unit->InitialiseComms());
  NOTE(unit->Stop());
  NOTE(Flags());
}

TEST_F(RunControlTest, StopWaitsFiveSecondsAfterAStop) {
  transcript.ShowTimes();
  NOTE(unit->Run());
  NOTE(unit->Stop());
}

TEST_F(RunControlTest, FailedRunLengthStillMarksTheInitialConditionsSent) {
  Fail("Sequence.SetRunLength", E_FAIL, -1);
  server.SetNetBoxStateForTesting(8);
  NOTE(unit->RunInitialConditions());
  NOTE(Flags());
  NOTE(unit->RunInitialConditions());  // state 8: starts nothing
  NOTE(unit->Run());
  server.SetNetBoxStateForTesting(0);
  NOTE(unit->StopRun());
  NOTE(Flags());
  NOTE(unit->RunInitialConditions());  // a fresh first run: the failure counts again
  NOTE(unit->RunInitialConditions());  // the pumps still deliver (state 2): nothing started
  NOTE(unit->StopMethod());
  NOTE(unit->RunInitialConditions());
}

TEST_F(RunControlTest, ElapsedTimeNoticesTheEndOfTheMethod) {
  transcript.ShowTimes();
  NOTE(unit->Run());
  Sleep(300);
  NOTE(unit->ElapsedAnalysisTime());  // 0.005 min reads as 0
  Sleep(29700);
  NOTE(unit->ElapsedAnalysisTime());
  Sleep(30000);  // the run ends at 1 min: the server reports it
  NOTE(unit->ElapsedAnalysisTime());
  NOTE(unit->ElapsedAnalysisTime());
}

TEST_F(RunControlTest, NetworkCheckEveryNthCallOverAllUnits) {
  TestUnit second(5, IID_ITavixAutosampler2, "Autosampler");
  TestUnit third(4, IID_ITavix_DET_UV2, "UV");
  NOTE(NotReady(third));  // never found
  NOTE(second.InitialiseComms());
  for (int i = 0; i < 7; ++i) NOTE(NotReady(i % 2 ? *unit : second));  // the network box asked 4th and 7th
  server.SendMessageForTesting(1033);
  for (int i = 0; i < 3; ++i) NOTE(NotReady(*unit));
  NOTE(CCommon::GetInstance().CloseServer());
  for (int i = 0; i < 2; ++i) NOTE(NotReady(*unit));
  // Unconnected: the stops succeed and nothing else starts, without a call.
  NOTE(unit->StopMethod() * 100 + unit->StopRun() * 10 + unit->PureStop());
  NOTE(unit->Run() + unit->RunInitialConditions() + unit->WriteNewMethodItem(0, HplcFuncFlow, 1, 0, 0, 0, 0, 0));
  NOTE(unit->ElapsedAnalysisTime());
}

TEST_F(RunControlTest, AFailedEndMethodOrElapsedTimeKeepsTheFlagsAndReadsZero) {
  ASSERT_EQ(unit->Run(), 1);
  Sleep(30000);
  EXPECT_GT(unit->ElapsedAnalysisTime(), 0.4f);  // seen running
  Sleep(30000);
  Fail("Session.EndMethod");
  EXPECT_EQ(unit->PureStop(), 0);
  EXPECT_EQ(Flags(), "110");  // the run is over on the server; the flags stay
  Fail("NetBox.GetElapsedTime");
  EXPECT_EQ(unit->ElapsedAnalysisTime(), 0.0f);
  EXPECT_EQ(NewCalls().back(), "NetBox.GetElapsedTime()");  // the end of the run is not acted on
}

TEST_F(RunControlTest, StepDataIsAcknowledgedOnce) {
  server.SendMessageForTesting(66565);
  NOTE(NotReady(*unit));
  NOTE(NotReady(*unit));
}

TEST_F(RunControlTest, ServerErrorThrowsItsTranslationUntilTheNextSession) {
  NOTE(unit->Run());
  server.SendErrorEventForTesting(1, 1, 3, "Pump over pressure");
  for (int attempt = 0; attempt < 2; ++attempt) {
    NOTE(unit->GetUnitInterface() != nullptr);
    NOTE(server.LiveObjects());  // the unit keeps its own unit object
    NOTE(server.AdvisedSinks());
  }
  NOTE(unit->InitialiseComms());  // a new session clears the error
  NOTE(unit->GetUnitInterface() != nullptr);
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
