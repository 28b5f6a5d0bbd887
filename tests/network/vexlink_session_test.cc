#include "network/vexlink_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "network/quarn_pump.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/vexlink/vexlink.h"
#include "platform/win/windows.h"
#include "tests/network/network_world.h"
#include "tests/support/golden.h"

namespace {

using Clock = platform::Clock;

const std::string kNodeOpenCall = "LC_NodeOpen(\"" + std::string(kVexlinkDevicePath) + "\", 0)";

class VexlinkSessionTest : public testing_support::NetworkWorld {
 protected:
  std::vector<std::string> CallsFrom(std::size_t first) const {
    std::vector<std::string> texts;
    const auto calls = net.Calls();
    for (std::size_t i = first; i < calls.size(); ++i) {
      texts.push_back(calls[i].text + (calls[i].fromReceiver ? " by receiver" : ""));
    }
    return texts;
  }
  static std::int64_t Now() { return Clock::Get().NowMs(); }
};

TEST_F(VexlinkSessionTest, OpenWaitsForTheAutosamplerReopenOnlyResetsAndOneThreadServesEveryNode) {
  g_vexlinkSession.m_nSamplerPresent.Store(1);
  auto pump = std::make_unique<CQuarnPump>();
  EXPECT_EQ(pump->InitialiseComms(), 1);

  // The autosampler reports ready 2.5 s after it is configured at 1 s, so
  // the third pause of the wait ends it; a timer event each second makes
  // the receiving thread ask for the node's status.
  std::string log;
  for (const std::string& call : CallsFrom(0)) log += call + "\n";
  testing_support::ExpectMatchesGolden(log, "network/golden/session-open-calls.txt");
  EXPECT_EQ(Now(), 4000);
  const auto calls = net.Calls();
  EXPECT_EQ(calls[1].atMs, 0);   // the hard reset, then a pause of 1 s
  EXPECT_EQ(calls[2].atMs, 1000);
  for (const auto& call : calls) EXPECT_EQ(call.node, 1) << call.text;
  EXPECT_EQ(g_vexlinkSession.m_hNode.Load(), 1);
  EXPECT_EQ(g_vexlinkSession.m_nNotOpen.Load(), 0);
  EXPECT_EQ(g_vexlinkSession.m_nSamplerReady.Load(), 1);
  EXPECT_NE(g_vexlinkSession.m_dwThreadId.Load(), 0u);
  // The trace numbers every reply the thread received (one more when the
  // thread was started by this open).
  const int loops = g_vexlinkSession.m_nLoopCount.Load();
  const int replies = static_cast<int>(net.Replies().size());
  EXPECT_TRUE(loops == replies || loops == replies + 1) << loops << " loops, " << replies << " replies";
  // The node status that the timer events asked for has been decoded.
  EXPECT_EQ(g_unitStatusSnapshot.m_dwNodeState.Load(), 1u);
  EXPECT_EQ(g_unitStatusSnapshot.m_fPercentA.Load(), 100.0f);

  // A second open resets the node but creates no second thread.
  const DWORD thread = g_vexlinkSession.m_dwThreadId.Load();
  const std::size_t before = net.Calls().size();
  EXPECT_EQ(pump->InitialiseComms(), 1);
  const auto again = CallsFrom(before);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.front(), "LC_HardReset()");
  EXPECT_EQ(std::count(again.begin(), again.end(), kNodeOpenCall), 0);
  EXPECT_EQ(g_vexlinkSession.m_dwThreadId.Load(), thread);
  EXPECT_EQ(Now(), 4000 + 1000 + 1000);  // the ready flag stays set: one pause of the wait

  // Closed and opened again, the same thread serves the new node.
  pump.reset();
  auto texts = net.CallTexts(true);
  EXPECT_EQ(std::vector<std::string>(texts.end() - 2, texts.end()),
            (std::vector<std::string>{"LC_DeactivateKernelThread()", "LC_NodeClose()"}));
  EXPECT_EQ(g_vexlinkSession.m_hNode.Load(), 0);
  EXPECT_EQ(g_vexlinkSession.m_nNotOpen.Load(), 0);       // the close leaves it
  EXPECT_EQ(g_vexlinkSession.m_nSamplerReady.Load(), 1);  // and this one
  CQuarnPump second;
  second.InitialiseComms();
  EXPECT_EQ(g_vexlinkSession.m_hNode.Load(), 2);
  EXPECT_EQ(g_vexlinkSession.m_dwThreadId.Load(), thread);
  Sleep(2000);
  int fromNewNode = 0;
  for (const auto& reply : net.Replies()) {  // from every node, before and after the close
    EXPECT_EQ(reply.receivedBy, thread);
    if (reply.node == 2) ++fromNewNode;
  }
  EXPECT_GE(fromNewNode, 5);  // connect, inquiries, timer events, status, ready
}

TEST_F(VexlinkSessionTest, OpenPushesTheSessionAnalysisFileByteForByte) {
  CQuarnPump pump;
  pump.InitialiseComms();
  const sim::DriverCall push = net.Calls().back();
  ASSERT_EQ(push.name, "LC_PushAnlsFile");
  ASSERT_EQ(push.records.size(), 3u);

  // 1 µl from vial 1 for 120 s; pump 1 at 2 ml/min between 300 and 0 bar;
  // the pump and the autosampler listed.
  using H = RunHeader;
  testing_support::WireFields header(push.records[0]), transfer(push.records[2]);
  std::string text = "run header: " + header.Named<H::FlushCount, H::InjectVolumeNl, H::RunTimeS, H::FirstVial,
                                                   H::LastVial, H::Constant0, H::Constant4, H::Constant12,
                                                   H::Constant24, H::Constant26, H::Constant44, H::Constant60>(
                                          {"flushes", "inject_volume_nl", "run_time_s", "first_vial", "last_vial",
                                           "constant0", "constant4", "constant12", "constant24", "constant26",
                                           "constant44", "constant60"});
  text += header.Rest() + "\nanalysis file: " + testing_support::DescribeAnlsFile(push.records[1]);
  text += "transfer control: " +
          transfer.Named<TransferControl::Word<0>, TransferControl::Word<1>, TransferControl::Word<2>>(
              {"w0", "w1", "w2"});
  testing_support::ExpectMatchesGolden(text + transfer.Rest() + "\n",
      "network/golden/session-analysis-file.txt");
}

TEST_F(VexlinkSessionTest, WithoutAnAutosamplerTheOpenWaitsSixtySecondsOfVirtualTime) {
  CQuarnPump pump;
  EXPECT_EQ(pump.InitialiseComms(), 1);
  EXPECT_EQ(Now(), 1000 + 60000);
  EXPECT_EQ(g_vexlinkSession.m_nSamplerReady.Load(), 0);
  const auto texts = net.CallTexts(true);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "LC_UnitConfig(0x0501, 0)"), texts.end());
}

TEST_F(VexlinkSessionTest, ASilentAutosamplerAlsoEndsTheWaitAfterSixtySeconds) {
  g_vexlinkSession.m_nSamplerPresent.Store(1);
  net.SetAutosamplerSilent(true);
  CQuarnPump pump;
  EXPECT_EQ(pump.InitialiseComms(), 1);
  EXPECT_EQ(Now(), 61000);
}

TEST_F(VexlinkSessionTest, TestUnitReadyFromAnyUnitEndsTheWait) {
  // No autosampler, but a pump says TEST_UNIT_READY during the wait.
  struct PumpSaysReady final : Clock::Driver {
    void AdvanceTo(std::int64_t nowMs) override {
      if (nowMs == 5000) sim::SimulatedNetwork::Get().SendEvent(0x0101, 0x0101040Au);
    }
    std::int64_t NextDueMs() override { return Clock::Get().NowMs() < 5000 ? 5000 : kNothingDue; }
  } pumpSaysReady;
  Clock::Get().AddDriver(&pumpSaysReady);
  CQuarnPump pump;
  pump.InitialiseComms();
  Clock::Get().RemoveDriver(&pumpSaysReady);
  EXPECT_EQ(Now(), 5000);
  EXPECT_EQ(g_vexlinkSession.m_nSamplerReady.Load(), 1);
}

TEST_F(VexlinkSessionTest, MissingDriverShowsTheMessageAndRaisesEachTime) {
  net.SetDriverMissing(true);
  {
    CQuarnPump pump;
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        pump.InitialiseComms();
        ADD_FAILURE() << "no exception";
      } catch (const CCommunicationsException& e) {
        EXPECT_EQ(e.GetErrorMessage(), "Unable to open the Quarn driver");
        EXPECT_EQ(e.GetCode(), 0);
      }
    }
    EXPECT_EQ(ui.MessageBoxes(), (std::vector<std::string>(2, "MessageBox 0x30: Unable to open the Quarn driver")));
    EXPECT_EQ(g_vexlinkSession.m_hNode.Load(), -1);
    EXPECT_EQ(g_vexlinkSession.m_nNotOpen.Load(), 1);
    EXPECT_EQ(Now(), 2000);  // a pause after each hard reset
  }
  // The second attempt did not try the driver again; the close hands the
  // failed handle back and clears it.
  EXPECT_EQ(net.CallTexts(),
            (std::vector<std::string>{kNodeOpenCall, "LC_HardReset()", "LC_HardReset()", "LC_NodeClose()"}));
  for (const auto& call : net.Calls()) EXPECT_EQ(call.node, -1) << call.text;
  EXPECT_EQ(g_vexlinkSession.m_hNode.Load(), 0);

  // A new pump back-end tries the driver afresh.
  net.SetDriverMissing(false);
  CQuarnPump pump;
  EXPECT_EQ(pump.InitialiseComms(), 1);
  EXPECT_EQ(g_vexlinkSession.m_nNotOpen.Load(), 0);
}

TEST(VexlinkSessionStateTest, BeforeTheFirstOpenNoNodeIsOpenAndNoAutosamplerIsReady) {
  const VexlinkSession atLoad;
  EXPECT_EQ(atLoad.m_hNode.Load(), 0);
  EXPECT_EQ(atLoad.m_nNotOpen.Load(), 1);
  EXPECT_EQ(atLoad.m_dwThreadId.Load(), 0u);
  EXPECT_EQ(atLoad.m_nSamplerPresent.Load(), 0);
  EXPECT_EQ(atLoad.m_nSamplerReady.Load(), 0);
}

TEST_F(VexlinkSessionTest, AVirtualSleepReturnsWithTheRepliesDispatched) {
  CQuarnPump pump;
  g_vexlinkSession.m_nSamplerPresent.Store(1);
  pump.InitialiseComms();
  const int node = g_vexlinkSession.m_hNode.Load();
  LC_PumpStart(node);  // the session file: 2 ml/min
  for (WORD unit : {0x0101, 0x0501, 0x0401, 0x0601, 0x0000}) LC_UnitStatus(node, unit);
  Sleep(1000);

  const UnitStatusSnapshot& s = g_unitStatusSnapshot;
  EXPECT_EQ(s.m_fPumpFlow.Load(), 2.0f);
  EXPECT_EQ(s.m_fPumpPressure.Load(), 196.0f);  // 2 ml/min of water at 25 degrees C
  EXPECT_EQ(s.m_dwNodeState.Load(), 2u);
  EXPECT_EQ(s.m_dwSamplerStatus.Load(), 0x0104u);
  EXPECT_EQ(s.m_nLamp.Load(), 1);
  EXPECT_EQ(s.m_nOvenTemperature.Load(), 25);
}

TEST_F(VexlinkSessionTest, HostPollsWhileTheNetworkStreamsReplies) {
  g_vexlinkSession.m_nSamplerPresent.Store(1);
  CQuarnPump pump;
  pump.InitialiseComms();
  const int node = g_vexlinkSession.m_hNode.Load();
  LC_PumpStart(node);

  // One thread drives virtual time (timer events, status replies); the
  // host's thread asks for status and reads the snapshot meanwhile.
  std::atomic<bool> done{false};
  std::thread timeDriver([&] {
    for (int i = 0; i < 100; ++i) Sleep(100);
    done.store(true);
  });
  int polls = 0;  // each unit asked at least once, however late this thread runs
  for (; polls < 2 || (polls < 2000 && !done.load()); ++polls) {
    LC_UnitStatus(node, polls % 2 ? 0x0101 : 0x0000);
    const float flow = g_unitStatusSnapshot.m_fPumpFlow.Load();
    EXPECT_TRUE(flow == 0.0f || flow == 2.0f) << flow;
    const std::uint32_t state = g_unitStatusSnapshot.m_dwNodeState.Load();
    EXPECT_TRUE(state == 0 || state == 1 || state == 2) << state;
  }
  timeDriver.join();
  Sleep(100);  // whatever the last polls asked for arrives
  EXPECT_EQ(g_unitStatusSnapshot.m_fPumpFlow.Load(), 2.0f);
  EXPECT_EQ(g_unitStatusSnapshot.m_dwNodeState.Load(), 2u);
}

}  // namespace
