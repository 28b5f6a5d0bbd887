// The direct pump's run control and status poll: the calls the network
// sees, and what a poll makes of the unit status snapshot.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "network/quarn_autosampler.h"
#include "network/quarn_pump.h"
#include "platform/clock/clock.h"
#include "tests/network/network_world.h"
#include "tests/support/golden.h"
#include "tests/support/status_text.h"

namespace {

const std::string kPush = "LC_PushAnlsFile(run header, analysis file, transfer control)";

class RunControlTest : public testing_support::NetworkWorld {
 protected:
  void SetUp() override {
    NetworkWorld::SetUp();
    PretendSessionOpen();
  }
  CQuarnPump pump;
};

// ---- What the network hears ----

struct CallsCase {
  const char* name;
  void (*act)(CQuarnPump&);
  std::vector<std::string> calls;
};

class RunControlCallsTest : public RunControlTest, public testing::WithParamInterface<CallsCase> {};

void ReadTwice(CQuarnPump& p) {
  CInletSystemStatus status;
  g_unitStatusSnapshot.m_dwNodeState.Store(7);
  p.ReadStatus(status);
  g_unitStatusSnapshot.m_dwNodeState.Store(9);
  p.ReadStatus(status);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, RunControlCallsTest,
    testing::Values(
        CallsCase{"FirstSwitchOffStartsThenStops", [](CQuarnPump& p) { p.SwitchPump(Off); p.SwitchPump(Off); },
                  {"LC_PumpStart()", "LC_PumpStop()", "LC_PumpStop()"}},
        CallsCase{"SwitchOnTwiceSendsOnce", [](CQuarnPump& p) { p.SwitchPump(On); p.SwitchPump(On); },
                  {"LC_Reset()", kPush, "LC_PumpStart()"}},
        CallsCase{"SwitchOffAfterOnOnlyStops", [](CQuarnPump& p) { p.SwitchPump(On); p.SwitchPump(Off); },
                  {"LC_Reset()", kPush, "LC_PumpStart()", "LC_PumpStop()"}},
        CallsCase{"AnyValueButOneSwitchesOff",
                  [](CQuarnPump& p) { p.SwitchPump(On); p.SwitchPump(static_cast<Switch>(2)); },
                  {"LC_Reset()", kPush, "LC_PumpStart()", "LC_PumpStop()"}},
        CallsCase{"APolledFlowMeansThePumpIsOnSoSwitchingOnSendsNothing",
                  [](CQuarnPump& p) {
                    g_unitStatusSnapshot.m_fPumpFlow.Store(0.5f);
                    CInletSystemStatus status;
                    p.ReadStatus(status);
                    p.SwitchPump(On);
                  },
                  {"LC_UnitStatus(0x0101)", "LC_UnitStatus(0x0501)", "LC_UnitStatus(0x0401)",
                   "LC_UnitStatus(0x0601)", "LC_UnitStatus(0x0000)"}},
        CallsCase{"StartThenStop", [](CQuarnPump& p) { p.StartMethod(); p.StopMethod(); },
                  {"LC_Stop()", "LC_Reset()", kPush, "LC_ResetRun()", "LC_Stop()", "LC_Reset()"}},
        CallsCase{"NodeNeedingAResetIsResetAtEveryPoll", ReadTwice,
                  {"LC_UnitStatus(0x0101)", "LC_UnitStatus(0x0501)", "LC_UnitStatus(0x0401)",
                   "LC_UnitStatus(0x0601)", "LC_UnitStatus(0x0000)", "LC_Reset()", "LC_UnitStatus(0x0101)",
                   "LC_UnitStatus(0x0501)", "LC_UnitStatus(0x0401)", "LC_UnitStatus(0x0601)",
                   "LC_UnitStatus(0x0000)", "LC_Reset()"}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(RunControlCallsTest, InOrder) {
  GetParam().act(pump);
  EXPECT_EQ(net.CallTexts(), GetParam().calls);
}

TEST_F(RunControlTest, NothingIsSentWhileTheSessionIsNotOpen) {
  g_vexlinkSession.m_nNotOpen.Store(1);
  CInletSystemStatus status;
  status.GetFlow() = 1.5f;
  status.GetRunning() = 1;
  const CInletSystemStatus before = status;
  EXPECT_EQ(pump.SwitchPump(On), -1);
  EXPECT_EQ(pump.StartMethod(), 1);
  EXPECT_EQ(pump.StopMethod(), 1);
  EXPECT_EQ(pump.ReadStatus(status), 0);
  EXPECT_TRUE(status == before);
  EXPECT_TRUE(net.CallTexts().empty());
  EXPECT_EQ(platform::Clock::Get().NowMs(), 0);
}

TEST_F(RunControlTest, SwitchingAlwaysAnswersMinusOne) {
  for (Switch value : {Off, On, On, Off}) EXPECT_EQ(pump.SwitchPump(value), -1);
}

// ---- A status poll ----

// Each snapshot (node state, elapsed minutes, flow, autosampler status)
// and the record a poll fills from it (its running, pump-on and
// post-running flags 7 before), the autosampler status kept and whether
// the method runs. The D share, never measured, is cleared; no oven is in
// use, so the record is ready.
TEST_F(RunControlTest, APollFillsTheRecordFromTheSnapshotAsTheGoldenFileShows) {
  UnitStatusSnapshot& s = g_unitStatusSnapshot;
  std::string text;
  for (auto [name, nodeState, elapsedMin, flow, sampler] :
       {std::tuple{"IdleWhileFlowing", 1u, 0.0f, 0.5f, 0x0104u}, std::tuple{"PumpOn", 2u, 0.0f, 1.0f, 0x0104u},
        std::tuple{"RunBelowThreshold", 3u, 0.003f, 1.0f, 0x0104u}, std::tuple{"Run", 3u, 2.5f, 1.0f, 0x0124u},
        std::tuple{"NeedsReset", 8u, 1.0f, 0.0f, 0x0104u},
        std::tuple{"SamplerInjectedHighBitsIgnored", 3u, 1.0f, 1.0f, 0x00010124u},
        std::tuple{"SamplerBusy", 3u, 0.0f, 1.0f, 0x0125u}}) {
    g_directPumpState.ResetForTesting();  // each snapshot meets a fresh back-end
    g_directRunFlags.ResetForTesting();
    CQuarnPump fresh;
    s.m_dwNodeState.Store(nodeState), s.m_fElapsedMinutes.Store(elapsedMin), s.m_dwSamplerStatus.Store(sampler);
    s.m_fPumpFlow.Store(flow), s.m_fPumpPressure.Store(98.0f), s.m_nLamp.Store(1), s.m_nOvenTemperature.Store(31);
    s.m_fPercentA.Store(60.0f), s.m_fPercentB.Store(30.0f), s.m_fPercentC.Store(10.0f);
    CInletSystemStatus status;
    status.GetRunning() = status.GetPumpOn() = status.GetPostRunning() = 7;
    status.GetPercentD() = 5.0f;
    EXPECT_EQ(fresh.ReadStatus(status), 1);
    char line[120];
    std::snprintf(line, sizeof line, "== %s: autosampler status kept 0x%x, method running %d\n", name,
                  s.m_dwSamplerStatus.Load(), fresh.MethodRunning());
    text += line + testing_support::StatusText(status);
  }
  testing_support::ExpectMatchesGolden(text, "network/golden/status-polls.txt");
}

TEST_F(RunControlTest, ANaNElapsedTimeIsNoRunAndSamplerStatusZeroIsNoInjection) {
  g_unitStatusSnapshot.m_dwNodeState.Store(3);
  g_unitStatusSnapshot.m_fElapsedMinutes.Store(std::numeric_limits<float>::quiet_NaN());
  g_unitStatusSnapshot.m_dwSamplerStatus.Store(0);
  CInletSystemStatus status;
  status.GetInjecting() = 1;
  ASSERT_EQ(pump.ReadStatus(status), 1);
  EXPECT_EQ(status.GetRunning(), 0);
  EXPECT_EQ(status.GetTime(), 0.0f);
  EXPECT_EQ(status.GetInjecting(), 0);
  EXPECT_EQ(pump.MethodRunning(), 0);
}

TEST_F(RunControlTest, TheOvenIsReadyWithinFivePercentOfItsTarget) {
  g_directPumpState.m_nOvenInUse = 1;
  g_directPumpState.m_fOvenTarget = 40.0f;
  const std::string notReady = "The Oven is not ready.\nTarget oven temperature is 40.00";
  for (auto [temperature, flag, text] : {std::tuple{38, 0, ""}, std::tuple{37, 1, notReady.c_str()},
                                         std::tuple{42, 0, ""}, std::tuple{43, 1, notReady.c_str()}}) {
    g_unitStatusSnapshot.m_nOvenTemperature.Store(temperature);
    CInletSystemStatus status;
    status.SetNotReadyInfo("left from before");
    pump.ReadStatus(status);
    EXPECT_EQ(status.GetNotReady(), flag) << temperature;
    EXPECT_EQ(status.GetNotReadyInfo(), text) << temperature;
  }
  // A method without the oven clears what the oven method left.
  g_directPumpState.m_nOvenInUse = 0;
  CInletSystemStatus status;
  pump.ReadStatus(status);
  EXPECT_EQ(status.GetNotReady(), 0);
  EXPECT_EQ(status.GetNotReadyInfo(), "");
}

// ---- The sampler-injecting flag follows a sample's run (the whole run:
// DirectEndToEndTest) ----

class SampleRunTest : public RunControlTest {
 protected:
  int Poll(std::uint32_t nodeState, std::uint32_t samplerStatus) {
    g_unitStatusSnapshot.m_dwNodeState.Store(nodeState);
    g_unitStatusSnapshot.m_dwSamplerStatus.Store(samplerStatus);
    CInletSystemStatus status;
    pump.ReadStatus(status);
    EXPECT_EQ(sampler.Injecting(), pump.MethodRunning());
    return pump.MethodRunning();
  }
  CQuarnAutoSampler sampler;
};

TEST_F(SampleRunTest, AStartWhoseRunIsNeverSeenEndsAfterTenSeconds) {
  sampler.StartMethod();
  for (int poll = 0; poll < 9; ++poll) EXPECT_EQ(Poll(2, 0x0104), 1) << poll;
  EXPECT_EQ(Poll(2, 0x0104), 0);
}

TEST_F(SampleRunTest, AStopOrAPumpStartEndsIt) {
  sampler.StartMethod();
  pump.StopMethod();
  EXPECT_EQ(pump.MethodRunning(), 0);
  sampler.StartMethod();
  pump.StartMethod();
  EXPECT_EQ(pump.MethodRunning(), 0);
  EXPECT_EQ(Poll(3, 0x0104), 0);  // a pump run is running only past the elapsed threshold
}

}  // namespace
