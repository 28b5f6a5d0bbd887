// `quarn-host soak`: many sample runs in a row on one set of open devices,
// in virtual time, as a lab's overnight sequence drives them.
//
// Each sample loads the method into the pump, the autosampler and the UV
// detector, starts the sample and polls once a second of clock time until
// the run is over. A sample is right when every load and the start were
// accepted, the run reached its length, the autosampler reported its
// injection and the plug-in showed no message. Resident memory is read
// after every 100th sample: once the first 100 samples have warmed the
// process up, it must stay within 1 MB.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "host/commands.h"
#include "host/config_keys.h"
#include "host/run_log.h"
#include "platform/clock/clock.h"
#include "platform/inlet/host_ui.h"
#include "platform/inlet/inlet.h"
#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"
#include "sim/simulated_network.h"
#include "sim/simulated_server.h"

namespace host {

namespace {

constexpr std::int64_t kPollPeriodMs = 1000;
// A run whose run time stops this short of its length ended early.
constexpr double kEarlyEndMinutes = 3.0 / 60;
// Memory may move this much after the warm-up.
constexpr long kFlatKb = 1024;
constexpr int kWarmUpRuns = 100;

// Resident memory of this process, kB (0 where it cannot be read).
long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(4096, '\n');
  }
  return 0;
}

// Passes the plug-in's messages on and counts them: in a soak every
// message is a sample gone wrong. Progress displays are dropped.
class CountingUi : public platform::HostUi {
 public:
  explicit CountingUi(platform::HostUi& next) : m_next(next) {}
  int MessageBox(const CString& text, UINT style) override {
    ++m_messages;
    return m_next.MessageBox(text, style);
  }
  void ProgressOpen(const CString&) override {}
  void ProgressStep(int, const char*) override {}
  void ProgressClose() override {}
  void FlashStatusText(const char*, const char*, int) override {}
  int Messages() const { return m_messages; }

 private:
  platform::HostUi& m_next;
  int m_messages = 0;
};

struct SoakDevices {
  CQuarnControlAutoSampler sampler;  // first: the direct network's open asks whether it exists
  CQuarnControlPump pump;
  CQuarnControlUVDetector uv{1, 1};
};

class Soak {
 public:
  Soak(const SoakOptions& o, TerminalUi& ui) : m_o(o), m_ui(ui) {}
  int Run();

 private:
  int Fail(const std::string& text) {
    m_ui.Failure(text);
    return 1;
  }
  // One sample from load to the end of its run; empty when it went right,
  // else what went wrong.
  std::string Sample(SoakDevices& d, int number);

  const SoakOptions& m_o;
  TerminalUi& m_ui;
  std::string m_methodPath;
  double m_runLength = 0.0;
};

std::string Soak::Sample(SoakDevices& d, int number) {
  const CString name(m_methodPath.c_str());
  if (!d.pump.LoadMethod(name) || !d.sampler.LoadMethod(name) || !d.uv.LoadMethod(name)) {
    return "a device did not accept the method";
  }
  const std::string vial = std::to_string(1 + (number - 1) % 100);
  if (!d.sampler.StartMethod(name, CString(vial.c_str()), 5.0f)) return "the autosampler did not start the sample";
  platform::Clock& clock = platform::Clock::Get();
  const std::int64_t startMs = clock.NowMs();
  std::int64_t nextPollMs = startMs;
  bool started = false;
  bool injected = false;
  double runTime = 0.0;
  for (;;) {
    if (const std::int64_t wait = nextPollMs - clock.NowMs(); wait > 0) clock.SleepMs(wait);
    nextPollMs = clock.NowMs() + kPollPeriodMs;
    CInletSystemStatus status;
    d.pump.ReadStatus(status);
    d.sampler.ReadStatus(status);
    d.uv.ReadStatus(status);
    const int running = d.pump.MethodRunning() | d.sampler.MethodRunning();
    injected = injected || status.GetInjecting() == 1;
    if (status.GetRunning()) runTime = std::max(runTime, static_cast<double>(status.GetTime()));
    if (running) started = true;
    if (started && !running) break;
    if ((clock.NowMs() - startMs) / 60000.0 > m_runLength + kRunEndMarginMinutes + 3.0) {
      return "the run did not end";
    }
  }
  if (!injected) return "no injection was reported";
  if (runTime < m_runLength - kEarlyEndMinutes) {
    char text[96];
    std::snprintf(text, sizeof text, "the run ended at %.2f of %.2f min", runTime, m_runLength);
    return text;
  }
  return {};
}

int Soak::Run() {
  std::string note;
  m_methodPath = ResolveMethodPath(m_o.method, &note);
  QuarnMethod method;
  MethodFileProblems problems;
  if (!LoadMethodFile(m_methodPath, method, problems)) {
    return Fail("the method file " + m_methodPath + " is broken or missing; 'quarn-host method check' says why");
  }
  m_runLength = method.GetRunLength();
  if (const std::string problem = SettingsProblem(); !problem.empty()) {
    return Fail("the settings cannot be used, so nothing was run: " + problem);
  }
  const Transport transport = m_o.transport.value_or(ConfiguredTransport());
  HoldTransport(transport);
  const bool viaServer = transport == Transport::kServer;
  if (viaServer) sim::SimulatedServer::Register();
  platform::Clock::Get().UseVirtual();
  sim::SimulatedNetwork::Get().SetKeepLogs(false);
  if (viaServer) sim::SimulatedServer::Get().SetKeepLogs(false);

  CountingUi counting(m_ui);
  platform::InstallHostUi(&counting);
  std::printf("Soak: %d samples of %s (%.1f min each) on the %s transport, in virtual time\n", m_o.runs,
              m_methodPath.c_str(), m_runLength, viaServer ? "server" : "direct");
  std::fflush(stdout);
  const auto wallStart = std::chrono::steady_clock::now();
  long warmKb = 0;
  long peakGrowthKb = 0;
  int result = 0;
  int sample = 0;
  try {
    SoakDevices d;
    if (!d.pump.InitialiseComms() || !d.sampler.InitialiseComms() || !d.uv.InitialiseComms()) {
      result = Fail("a device could not open communications");
    }
    for (int n = 1; result == 0 && n <= m_o.runs; ++n) {
      sample = n;
      const int messagesBefore = counting.Messages();
      std::string wrong = Sample(d, n);
      if (wrong.empty() && counting.Messages() != messagesBefore) wrong = "the plug-in showed a message";
      if (!wrong.empty()) {
        result = Fail("sample " + std::to_string(n) + " of " + std::to_string(m_o.runs) + " went wrong: " + wrong);
        break;
      }
      if (n % 100 != 0 && n != m_o.runs) continue;
      const long kb = ResidentKb();
      if (n == kWarmUpRuns) warmKb = kb;
      if (n > kWarmUpRuns) peakGrowthKb = std::max(peakGrowthKb, kb - warmKb);
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
      std::printf("  %5d samples  resident %ld kB  %.1f s\n", n, kb, wall);
      std::fflush(stdout);
    }
    d.pump.StopMethod();
  } catch (const CCommunicationsException& e) {
    result = Fail("sample " + std::to_string(sample) + " of " + std::to_string(m_o.runs) +
                  " went wrong: communications failed: " + OneLineText(e.GetErrorMessage().str()));
  }
  platform::InstallHostUi(&m_ui);
  if (result != 0) return result;
  if (m_o.memoryCheck && warmKb != 0 && peakGrowthKb > kFlatKb) {
    return Fail("resident memory grew " + std::to_string(peakGrowthKb) + " kB after the first " +
                std::to_string(kWarmUpRuns) + " samples (at most " + std::to_string(kFlatKb) + " kB allowed)");
  }
  std::printf("All %d samples ran right", m_o.runs);
  if (warmKb != 0) {
    std::printf("; resident memory after sample %d: %ld kB, at most %+ld kB later", kWarmUpRuns, warmKb,
                peakGrowthKb);
  }
  std::printf(".\n");
  return 0;
}

}  // namespace

int SoakCommand(const SoakOptions& options, TerminalUi& ui) {
  Soak soak(options, ui);
  return soak.Run();
}

}  // namespace host
