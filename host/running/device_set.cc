#include "host/running/device_set.h"

#include <algorithm>
#include <limits>

#include "host/outputs/run_log.h"
#include "host/text/display_text.h"
#include "platform/clock/clock.h"
#include "platform/com/com.h"

namespace host {

namespace {

// The host polls every device once a second.
constexpr std::int64_t kPollPeriodMs = 1000;

}  // namespace

std::string DeviceSet::Open(const StopCheck& stop, bool& stopped) {
  // The pump opens the network; the others join it.
  const std::function<int()> steps[] = {
      [&] { return sampler.InitialiseComms(); }, [&] { return pump.InitialiseComms(); },
      [&] { return uv.InitialiseComms(); },      [&] { return pda.InitialiseComms(); },
      [&] { return oven.InitialiseComms(); },    [&] { return sampler.Initialise(), 1; },
      [&] { return pump.Initialise(), 1; },      [&] { return uv.Initialise(), 1; },
      [&] { return pda.Initialise(), 1; },       [&] { return oven.Initialise(), 1; }};
  stopped = false;
  for (const auto& step : steps) {
    if ((stopped = stop())) return "";
    if (!step()) return "a device could not open communications; check the instruments and the transport setting";
  }
  return "";
}

std::string DeviceSet::Load(const std::string& methodName, const StopCheck& stop, bool& stopped) {
  const CString name(methodName.c_str());
  struct Step {
    std::function<int()> load;
    const char* what;
  };
  stopped = false;
  for (const Step& step : {Step{[&] { return pump.LoadMethod(name); }, "pump"},
                           Step{[&] { return sampler.LoadMethod(name); }, "autosampler"},
                           Step{[&] { return uv.LoadMethod(name); }, "UV detector"}}) {
    if ((stopped = stop())) return "";
    if (!step.load()) {
      return std::string("the ") + step.what + " did not accept the method " + EscapeControls(methodName);
    }
  }
  return "";
}

void DeviceSet::WriteReports(CGenericExpRecord& record, const std::string& methodName) {
  const CString name(methodName.c_str());
  pump.WriteExpRecord(&record, name);
  sampler.WriteExpRecord(&record, name);
  uv.WriteExpRecord(&record, name);
  pda.WriteExpRecord(&record, name);
  oven.WriteExpRecord(&record, name);
}

bool DeviceSet::StartSample(const std::string& methodName, int vial, double volumeUl) {
  CAutoSampler::StartMethodParams params{std::to_string(vial).c_str(), static_cast<float>(volumeUl)};
  return sampler.StartMethod(CString(methodName.c_str()), params) != 0;
}

namespace {

// How long a wait on the wall clock goes without taking waiting calls.
constexpr std::int64_t kDeliveryPeriodMs = 20;

// Waits until the clock reads `untilMs`, taking the calls and events that
// wait for this thread as an interactive host's message loop does. In
// virtual time (the simulators') the server's program is driven through
// calls that deliver its events on the way, so one sleep does; on the
// wall clock (real instruments) the messages are taken every few
// milliseconds.
void WaitDelivering(platform::Clock& clock, std::int64_t untilMs) {
  for (;;) {
    platform::com::DeliverWaitingCalls();
    const std::int64_t wait = untilMs - clock.NowMs();
    if (wait <= 0) return;
    clock.SleepMs(clock.GetMode() == platform::Clock::Mode::kVirtual ? wait : std::min(wait, kDeliveryPeriodMs));
  }
}

}  // namespace

// Polls start at most once a second of clock time: a back-end whose status
// read takes that second itself (the direct pump) is not slowed, one that
// answers at once is not polled in a spin.
bool DeviceSet::Poll(CInletSystemStatus& pumpReading, CInletSystemStatus& merged, int& running) {
  platform::Clock& clock = platform::Clock::Get();
  WaitDelivering(clock, m_nextPollMs);
  m_nextPollMs = clock.NowMs() + kPollPeriodMs;
  CInletSystemStatus others[4];
  constexpr float kUnread = std::numeric_limits<float>::quiet_NaN();
  for (float* value : {&pumpReading.GetFlow(), &pumpReading.GetHighPressure(), &pumpReading.GetPercentA(),
                       &pumpReading.GetPercentB(), &pumpReading.GetPercentC(), &pumpReading.GetPercentD(),
                       &pumpReading.GetTemperatureLeft()}) {
    *value = kUnread;
  }
  const int ok = pump.ReadStatus(pumpReading);
  sampler.ReadStatus(others[0]);
  uv.ReadStatus(others[1]);
  pda.ReadStatus(others[2]);
  oven.ReadStatus(others[3]);
  merged = pumpReading;
  for (auto& other : others) AddDeviceReading(merged, other);
  running = pump.MethodRunning() | sampler.MethodRunning() | uv.MethodRunning() | pda.MethodRunning() |
            oven.MethodRunning();
  return ok != 0;
}

void DeviceSet::StopMethods() {
  pump.StopMethod();
  sampler.StopMethod();
  uv.StopMethod();
}

void DeviceSet::Close() {
  pump.CloseDownComms();
  sampler.CloseDownComms();
  uv.CloseDownComms();
  pda.CloseDownComms();
  oven.CloseDownComms();
}

}  // namespace host
