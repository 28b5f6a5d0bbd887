// Both transports end to end: the host's pump, autosampler and UV fronts
// from the open to the close, with a 30-minute sample run polled as the
// host polls it (once a second of clock time), on the simulated network
// and through the simulated instrument server. What the two promise alike
// is checked for both; what each sends is checked in its own terms.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "platform/clock/clock.h"
#include "tests/transport/transport_world.h"

namespace {

using testing_support::Transport;
using testing_support::TransportName;

// The timetable's flow (ml/min) and share of B at `t` minutes of the run.
double Ramp(double t, double v0, double v20, double v25, double v255) {
  if (t <= 20.0) return v0 + (v20 - v0) * t / 20.0;
  if (t <= 25.0) return v20 + (v25 - v20) * (t - 20.0) / 5.0;
  if (t <= 25.5) return v25 + (v255 - v25) * (t - 25.0) / 0.5;
  return v255;
}

struct Reading {
  std::int64_t atMs;
  CInletSystemStatus status;
  int methodRunning, injecting;
};

class EndToEndTest : public testing_support::TransportWorld, public testing::WithParamInterface<Transport> {
 protected:
  void SetUp() override {
    TransportWorld::SetUp();
    UseTransport(GetParam());
    WriteMethod("EndToEnd", "end-to-end.quarn900.toml");  // a binary gradient, oven at 40 C, 30 min
  }
};

TEST_P(EndToEndTest, ASampleRunFromOpenToClose) {
  std::vector<Reading> readings;
  std::size_t callsBeforeStop = 0;
  {
    CQuarnControlAutoSampler sampler;
    CQuarnControlUVDetector uv(0, 1);
    CQuarnControlPump pump;
    const auto each = [&](auto step) { step(pump), step(sampler), step(uv); };
    each([](auto& device) { ASSERT_EQ(device.InitialiseComms(), 1); });
    each([](auto& device) { device.Initialise(); });
    EXPECT_TRUE(ViaServer() || g_vexlinkSession.m_nSamplerReady.Load() == 1);
    each([](auto& device) { ASSERT_EQ(device.LoadMethod("EndToEnd"), 1); });
    ASSERT_FALSE(HasFatalFailure());

    ASSERT_EQ(sampler.StartMethod("EndToEnd", CString("12"), 5.0f), 1);
    platform::Clock& clock = platform::Clock::Get();
    std::int64_t nextPollMs = 0;
    for (int poll = 0; poll < 2500; ++poll) {
      if (nextPollMs > clock.NowMs()) clock.SleepMs(nextPollMs - clock.NowMs());
      nextPollMs = clock.NowMs() + 1000;
      CInletSystemStatus status{};
      each([&status](auto& device) { device.ReadStatus(status); });
      readings.push_back({clock.NowMs(), status, pump.MethodRunning(), sampler.Injecting()});
      const Reading& r = readings.back();
      // The server reports the run started a moment after the start.
      if (!r.methodRunning && (poll > 0 || !ViaServer())) break;
    }
    callsBeforeStop = ViaServer() ? server.Calls().size() : net.CallTexts(true).size();
    EXPECT_EQ(pump.StopMethod(), 1);
  }
  if (ViaServer()) {
    // The sample run went out with its vial; the stop ended the run and the
    // method, and the last unit's going ends them again before it closes
    // the session.
    EXPECT_EQ(server.Sequence().vial, 12);
    const auto calls = server.Calls();
    EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(callsBeforeStop), calls.end()),
              (std::vector<std::string>{"Session.EndRun()", "Session.EndMethod()", "Session.EndRun()",
                                        "Session.EndMethod()", "Session.Unadvise(1)", "Session.Close()"}));
  } else {
    // The open configured the autosampler present; the sample run went out
    // with its vial; stop and destruction close the node.
    const auto hostCalls = net.CallTexts(true);
    EXPECT_NE(std::find(hostCalls.begin(), hostCalls.end(), "LC_UnitConfig(0x0501, 1)"), hostCalls.end());
    EXPECT_EQ(testing_support::FieldOf<RunHeader::FirstVial>(LastRecords("LC_PushAnlsFile").at(0)), 12);
    EXPECT_EQ(HostCallsFrom(callsBeforeStop), (std::vector<std::string>{"LC_Stop()", "LC_Reset()",
                                                                        "LC_DeactivateKernelThread()",
                                                                        "LC_NodeClose()"}));
    EXPECT_EQ(net.OpenNode(), 0);
  }

  // The host saw the method run from the start until the run's end, then stop.
  ASSERT_GE(readings.size(), 1800u);
  EXPECT_LT(readings.size(), 1900u);
  for (std::size_t i = ViaServer() ? 1 : 0; i + 1 < readings.size(); ++i) {
    ASSERT_EQ(readings[i].methodRunning, 1) << i;
  }
  EXPECT_EQ(readings.back().methodRunning, 0);
  EXPECT_EQ(readings.back().injecting, 0);

  bool sawInjecting = false, ovenReady = false;
  float lastTime = 0.0f, lastOven = 0.0f;
  for (const Reading& r : readings) {
    CInletSystemStatus s = r.status;
    const double t = s.GetTime();
    sawInjecting = sawInjecting || s.GetInjecting() == 1;
    EXPECT_EQ(s.GetLamp(), 1);
    // The run clock starts at the injection and moves forward until the end.
    if (r.methodRunning) {
      EXPECT_GE(s.GetTime(), lastTime) << r.atMs;
    }
    if (r.methodRunning && t > 0.0) {
      lastTime = s.GetTime();
      EXPECT_EQ(s.GetRunning(), 1);
      EXPECT_NEAR(s.GetFlow(), Ramp(t, 1.0, 0.8, 0.8, 1.0), 0.0015) << t;
      EXPECT_NEAR(s.GetPercentB(), Ramp(t, 10, 90, 90, 10), 0.02) << t;
      EXPECT_NEAR(s.GetPercentA() + s.GetPercentB() + s.GetPercentC(), 100.0, 0.02) << t;
      // Pressure follows flow and the mixture's viscosity at the column's temperature.
      sim::Composition mixture{s.GetPercentA(), s.GetPercentB(), s.GetPercentC()};
      const double expected = sim::InstrumentModel::PressureBar(s.GetFlow() * 1000.0, mixture, s.GetTemperatureLeft());
      EXPECT_NEAR(s.GetHighPressure(), expected, expected * 0.03) << t;
    }
    // The oven approaches 40 C (never cooling, so once ready it stays so);
    // the direct path holds the run not ready until it is within 5 %.
    EXPECT_GE(s.GetTemperatureLeft(), lastOven);
    lastOven = s.GetTemperatureLeft();
    const bool warm = s.GetTemperatureLeft() >= 38.0f;
    ovenReady = ovenReady || warm;
    EXPECT_EQ(s.GetNotReady(), ViaServer() || warm ? 0 : 1);
    if (!ViaServer()) {
      EXPECT_EQ(s.GetNotReadyInfo(), warm ? "" : "The Oven is not ready.\nTarget oven temperature is 40.00");
    }
  }
  EXPECT_TRUE(sawInjecting);
  EXPECT_TRUE(ovenReady);
  EXPECT_GT(lastTime, 29.9f);
  EXPECT_EQ(readings.back().status.GetRunning(), 0);
  EXPECT_EQ(readings.back().status.GetTime(), 0.0f);
  EXPECT_NEAR(readings.back().status.GetTemperatureLeft(), 40.0f, 0.01f);

  // The flashing method name ran from the start to the end of the sequence.
  const auto& lines = ui.Lines();
  const auto flashOn = std::find(lines.begin(), lines.end(), "Flash on: Running :- |EndToEnd");
  ASSERT_NE(flashOn, lines.end());
  EXPECT_NE(std::find(flashOn, lines.end(), "Flash off"), lines.end());
}

INSTANTIATE_TEST_SUITE_P(Both, EndToEndTest, testing::Values(Transport::kDirect, Transport::kServer), TransportName);

}  // namespace
