// Fake back-ends for the front tests, and one timeline of everything the
// outside world sees: back-end calls, host-UI calls and clock sleeps, in
// the order they happen.
//
// Timeline lines: a back-end call is its operation name ("ClearMethod",
// "DownloadMethod", "SwitchLamp 1"); the host UI writes the lines of
// RecordingHostUi ("Progress 17: DownLoading Initial Events", "Flash off");
// a sleep writes "Sleep to <ms>".
//
// Fault switches: `results` sets an operation's answer (otherwise
// `defaultResult`, 1);
// `throwFrom` names an operation that raises CCommunicationsException.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "front/backend_factory.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"

namespace front_testing {

using Timeline = std::vector<std::string>;

// What every fake shares: the timeline, the answers and the methods seen.
class FakeBackend {
 public:
  explicit FakeBackend(Timeline& timeline) : m_timeline(timeline) {}

  std::map<std::string, int> results;
  int defaultResult = 1;
  std::string throwFrom;
  // Every method object handed in, and a copy of the last one.
  std::vector<const QuarnMethod*> methodsSeen;
  QuarnMethod lastMethod;

 protected:
  int Call(const std::string& operation) {
    m_timeline.push_back(operation);
    if (operation == throwFrom) ThrowCCommunicationsException(0, CString("Link down in " + operation));
    const auto it = results.find(operation);
    return it == results.end() ? defaultResult : it->second;
  }
  int Call(const std::string& operation, QuarnMethod& method) {
    methodsSeen.push_back(&method);
    lastMethod = method;
    return Call(operation);
  }
  Timeline& m_timeline;
};

class FakePump final : public CBasePump, public FakeBackend {
 public:
  using FakeBackend::FakeBackend;
  ~FakePump() override { m_timeline.push_back("~Pump"); }

  int InitialiseComms() override { return Call("InitialiseComms"); }
  void Initialise() override { Call("Initialise"); }
  int DownloadInitialConditions(QuarnMethod& m) override { return Call("DownloadInitialConditions", m); }
  int DownloadTimetable(QuarnMethod& m) override { return Call("DownloadTimetable", m); }
  int DownloadEvents(QuarnMethod& m) override { return Call("DownloadEvents", m); }
  int DownloadInitialEvents(QuarnMethod& m) override { return Call("DownloadInitialEvents", m); }
  int Run() override { return Call("Run"); }
  int MethodRunning() override { return Call("MethodRunning"); }
  int StopMethod() override { return Call("StopMethod"); }
  int StartMethod() override { return Call("StartMethod"); }
  int SwitchPump(Switch value) override { return Call("SwitchPump " + std::to_string(value)); }
  int ReadStatus(CInletSystemStatus& status) override {
    statusSeen = &status;
    return Call("ReadStatus");
  }
  void CloseDownComms() override { Call("CloseDownComms"); }
  void ClearMethod() override { Call("ClearMethod"); }

  const CInletSystemStatus* statusSeen = nullptr;
};

class FakeSampler final : public CBaseSamp, public FakeBackend {
 public:
  using FakeBackend::FakeBackend;
  ~FakeSampler() override { m_timeline.push_back("~Sampler"); }

  int DownloadMethod(QuarnMethod& m) override { return Call("DownloadMethod", m); }
  int ReadStatus(CInletSystemStatus&) override { return Call("ReadStatus"); }
  // Answers the next value of `injecting` (then keeps the last one).
  int Injecting() override {
    m_timeline.push_back("Injecting");
    if (injecting.empty()) return 0;
    const int value = injecting.front();
    if (injecting.size() > 1) injecting.erase(injecting.begin());
    return value;
  }
  int StartMethod() override { return Call("StartMethod"); }
  int InitialiseComms() override { return Call("InitialiseComms"); }
  int StopMethod() override { return Call("StopMethod"); }

  std::vector<int> injecting;
};

class FakeUV final : public CBaseUV, public FakeBackend {
 public:
  using FakeBackend::FakeBackend;
  ~FakeUV() override { m_timeline.push_back("~UV"); }

  int DownloadMethod(QuarnMethod& m) override { return Call("DownloadMethod", m); }
  int SwitchLamp(Switch value) override { return Call("SwitchLamp " + std::to_string(value)); }
  int ReadStatus(CInletSystemStatus&) override { return Call("ReadStatus"); }
  void Initialise() override { Call("Initialise"); }
  int InitialiseComms() override { return Call("InitialiseComms"); }
  int StopMethod() override { return Call("StopMethod"); }
};

// Builds the fakes (or nothing, with `buildNothing`) and keeps borrowed
// pointers to the last ones built so that tests can set their switches.
class FakeMaker final : public BackendMakerForTesting {
 public:
  explicit FakeMaker(Timeline& timeline) : m_timeline(timeline) {}

  std::unique_ptr<CBasePump> NewPump(BackendFamily family) override { return Make(family, pump); }
  std::unique_ptr<CBaseSamp> NewSampler(BackendFamily family) override { return Make(family, sampler); }
  std::unique_ptr<CBaseUV> NewUV(BackendFamily family) override { return Make(family, uv); }

  bool buildNothing = false;
  std::vector<BackendFamily> families;
  FakePump* pump = nullptr;
  FakeSampler* sampler = nullptr;
  FakeUV* uv = nullptr;

 private:
  template <class Fake>
  std::unique_ptr<Fake> Make(BackendFamily family, Fake*& last) {
    families.push_back(family);
    if (buildNothing) return nullptr;
    auto fake = std::make_unique<Fake>(m_timeline);
    last = fake.get();
    return fake;
  }
  Timeline& m_timeline;
};

// The clock's advances, written into the timeline.
class TimelineClock final : public platform::Clock::Driver {
 public:
  explicit TimelineClock(Timeline& timeline) : m_timeline(timeline) {}
  void AdvanceTo(std::int64_t nowMs) override { m_timeline.push_back("Sleep to " + std::to_string(nowMs)); }

 private:
  Timeline& m_timeline;
};

}  // namespace front_testing
