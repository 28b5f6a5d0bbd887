// Method items and run control on a connected session: the exact server
// calls, the shared flags, the waits, the network check every n-th call,
// the end of a method seen by the elapsed time, and a server error turned
// into the translated exception. The facts each test is there for are
// asserted; its transcript, with every server call, is in
// golden/RunControlTest/.
#include <algorithm>
#include <thread>

#include "platform/clock/clock.h"
#include "platform/win/windows.h"
#include "tests/server/server_world.h"

namespace {

using server_testing::TestUnit;
using Lines = std::vector<std::string>;

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
  EXPECT_EQ(NOTE(server.CurrentMethod().items.size()), 4u);  // the failed item stays written
  NOTE(CCommon::GetInstance().ResetMethod());
  EXPECT_EQ(NOTE(server.CurrentMethod().items.size()), 0u);
  Fail("Method.AddItem");
  EXPECT_EQ(NOTE(unit->WriteNewMethodItem(1.0, HplcFuncFlow, 1, 0, 0, 0, 0, 0)), 0);
  Fail("Item.SetTime");
  EXPECT_EQ(NOTE(unit->WriteNewMethodItem(1.0, HplcFuncFlow, 1, 0, 0, 0, 0, 0)), 0);
}

// The flags: started initial conditions, started run, method running.
TEST_F(RunControlTest, RunStopAndTheFlags) {
  transcript.ShowTimes();
  EXPECT_EQ(NOTE(unit->Stop()), 1);  // nothing started: no call, no wait
  EXPECT_EQ(lastCalls, Lines{});
  NOTE(unit->Run());
  EXPECT_EQ(NOTE(Flags()), "110");
  Sleep(100);
  EXPECT_EQ(NOTE(Flags()), "111");
  Fail("Session.EndRun");
  server.SendErrorEvent(5, 0, 64, "Waste");
  EXPECT_EQ(NOTE(unit->Stop()), 0);  // no wait, flags kept, error reset asked for
  EXPECT_EQ(lastCalls, (Lines{"Session.EndRun()", "Session.ResetError()"}));
  EXPECT_EQ(NOTE(Flags()), "111");
  NOTE(CCommon::GetInstance().CloseServer());  // the error stays until the next session
  NOTE(unit->InitialiseComms());
  const std::int64_t before = platform::Clock::Get().NowMs();
  EXPECT_EQ(NOTE(unit->Stop()), 1);
  EXPECT_EQ(platform::Clock::Get().NowMs() - before, 5000);
  EXPECT_EQ(NOTE(Flags()), "000");
}

TEST_F(RunControlTest, FailedRunLengthStillMarksTheInitialConditionsSent) {
  Fail("Sequence.SetRunLength", E_FAIL, -1);
  server.SetNetBoxState(8);
  EXPECT_EQ(NOTE(unit->RunInitialConditions()), 0);
  EXPECT_EQ(NOTE(Flags()), "100");
  EXPECT_EQ(NOTE(unit->RunInitialConditions()), 1);  // state 8: starts nothing
  NOTE(unit->Run());
  server.SetNetBoxState(0);
  NOTE(unit->StopRun());
  EXPECT_EQ(NOTE(Flags()), "000");
  EXPECT_EQ(NOTE(unit->RunInitialConditions()), 0);  // a fresh first run: the failure counts again
  EXPECT_EQ(NOTE(unit->RunInitialConditions()), 1);  // the pumps still deliver (state 2): nothing started
  NOTE(unit->StopMethod());
  NOTE(unit->RunInitialConditions());
}

TEST_F(RunControlTest, ElapsedTimeNoticesTheEndOfTheMethod) {
  transcript.ShowTimes();
  NOTE(unit->Run());
  Sleep(300);
  EXPECT_EQ(NOTE(unit->ElapsedAnalysisTime()), 0.0f);  // 0.005 min reads as 0
  Sleep(29700);
  EXPECT_FLOAT_EQ(NOTE(unit->ElapsedAnalysisTime()), 0.5f);
  Sleep(30000);  // the run ends at 1 min: the server reports it
  EXPECT_EQ(NOTE(unit->ElapsedAnalysisTime()), 0.0f);
  EXPECT_EQ(NOTE(unit->ElapsedAnalysisTime()), 0.0f);
}

TEST_F(RunControlTest, NetworkCheckEveryNthCallOverAllUnits) {
  TestUnit second(5, IID_ITavixAutosampler2, "Autosampler");
  TestUnit third(4, IID_ITavix_DET_UV2, "UV");
  const std::string lost = "1:Network connections not initialised or not responding";
  EXPECT_EQ(NOTE(NotReady(third)), lost);  // never found
  NOTE(second.InitialiseComms());
  std::string asked;  // the network box is asked at the 4th and 7th check over all units
  for (int i = 0; i < 7; ++i) {
    asked += NOTE(NotReady(i % 2 ? *unit : second));
    asked += lastCalls.empty() ? "," : "box,";
  }
  EXPECT_EQ(asked, "0:,0:,0:box,0:,0:,0:box,0:,");
  server.SendMessageForTesting(1033);
  for (const std::string& expected : {std::string("0:"), lost, std::string("0:")}) {
    EXPECT_EQ(NOTE(NotReady(*unit)), expected);  // the third unit's turn finds the loss
  }
  NOTE(CCommon::GetInstance().CloseServer());
  EXPECT_EQ(NOTE(NotReady(*unit)), "0:");
  EXPECT_EQ(NOTE(NotReady(*unit)), "1:Error intialising server");
  // Unconnected: the stops succeed and nothing else starts, without a call.
  EXPECT_EQ(NOTE(unit->StopMethod() * 100 + unit->StopRun() * 10 + unit->PureStop()), 111);
  EXPECT_EQ(lastCalls, Lines{});
  EXPECT_EQ(NOTE(unit->Run() + unit->RunInitialConditions() + unit->WriteNewMethodItem(0, HplcFuncFlow, 1, 0, 0, 0, 0, 0)), 0);
  EXPECT_EQ(lastCalls, Lines{});
  EXPECT_EQ(NOTE(unit->ElapsedAnalysisTime()), 0.0f);
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
  for (long acks : {1, 0}) {
    NOTE(NotReady(*unit));
    EXPECT_EQ(std::count(lastCalls.begin(), lastCalls.end(), "Session.AcknowledgeStepData()"), acks);
  }
}

TEST_F(RunControlTest, ServerErrorThrowsItsTranslationUntilTheNextSession) {
  NOTE(unit->Run());
  server.SendErrorEvent(1, 1, 3, "Pump over pressure");
  for (int attempt = 0; attempt < 2; ++attempt) {
    NOTE(unit->GetUnitInterface() != nullptr);  // throws the translation
    EXPECT_EQ(NOTE(server.LiveObjects()), 1);    // the unit keeps its own unit object
    EXPECT_EQ(NOTE(server.AdvisedSinks()), 0);
  }
  EXPECT_EQ(NOTE(unit->InitialiseComms()), 1);  // a new session clears the error
  EXPECT_TRUE(NOTE(unit->GetUnitInterface() != nullptr));
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
