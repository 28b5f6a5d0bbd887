// The simulated server's inside, shared by the server
// (sim/simulated_server.cc) and its COM objects (sim/server_objects.cc):
// the state a reset renews, the sessions' sinks, and ServerCall, the one
// way an object's operation enters the server. Nothing else includes it.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulated_server.h"

namespace sim {

// One event for the sinks: HplcMessage (unit type, unit number, code,
// text) or ErrorEvent (unit type, sub-code, error bits, text).
struct ServerEvent {
  DISPID dispid = 0;
  SHORT a = 0, b = 0;
  LONG code = 0;
  std::string text;
};

// The root object's factory, for CoCreateInstance.
HRESULT CreateServer(REFIID riid, void** ppv);
// A new BSTR holding `text`.
BSTR AllocText(const std::string& text);
inline ServerEvent Message(LONG code, SHORT type, SHORT number, std::string text) {
  return {DISPID_HplcMessage, type, number, code, std::move(text)};
}
inline ServerEvent Error(SHORT type, SHORT subCode, SHORT bits, std::string text) {
  return {DISPID_ErrorEvent, type, subCode, static_cast<std::uint16_t>(bits), std::move(text)};
}

// How a unit answers (test face).
struct UnitConfig {
  bool absent = false;
  std::int64_t presentAfterMs = 0;
  std::int64_t connectedAfterMs = 0;
};

struct SimulatedServer::State {
  struct Failure {
    HRESULT hr;
    int times;
  };
  std::deque<ServerEvent> ready;  // due, not yet delivered
  int inFlight = 0;               // being delivered
  std::vector<std::string> calls;
  bool keepLogs = true;
  std::function<void(const std::string&)> trace;
  std::map<std::string, Failure> failures;
  bool ended = false;  // End(): nothing answers
  std::map<std::pair<LONG, SHORT>, UnitConfig> units;
  bool netBoxSilent = false;
  LONG netBoxState = 0;
  LONG samplerState = -1;
  std::optional<LONG> lampState;
  std::map<SHORT, ServerPumpReading> pumpReadings;  // by pump number
  std::int64_t openedAtMs = -1;
  DWORD nextCookie = 1;
  std::shared_ptr<ServerMethod> method = std::make_shared<ServerMethod>();
  std::shared_ptr<ServerSequence> sequence = std::make_shared<ServerSequence>();
};

struct SimulatedServer::SessionData {
  struct Advise {
    DWORD cookie;
    IDispatch* sink;
  };
  std::vector<Advise> advises;
};

// An operation's name, "Pump.GetFlow" or "PumpUnit." "GetStatus": put
// together only when a log, a trace or a failure asks for it, so that a
// program polling for hours does not build a text per call.
struct OpName {
  std::string_view prefix, name;
  OpName(const char* full) : name(full) {}  // NOLINT: a name is written as its text
  OpName(std::string_view prefix_, std::string_view name_) : prefix(prefix_), name(name_) {}
  std::string Text() const { return std::string(prefix).append(name); }
};

// One call into the server: holds its lock with the time caught up and the
// call logged; `hr` is the result a test asked for (S_OK if none).
class ServerCall {
 public:
  // The lock alone: nothing logged, the time not caught up.
  ServerCall() : server(SimulatedServer::Get()), lock(server.m_mutex), s(*server.m_pState), model(server.m_model) {}
  ServerCall(OpName op, std::string_view args) : ServerCall() {
    server.CatchUpLocked(lock);
    if (s.ended) {
      hr = SimulatedServer::kServerGone;
      return;
    }
    if (s.keepLogs || s.trace) {
      const std::string text = op.Text().append("(").append(args).append(")");
      if (s.trace) server.TraceLocked(text);
      if (s.keepLogs) s.calls.push_back(text);
    }
    if (s.failures.empty()) return;
    const auto it = s.failures.find(op.Text());
    if (it == s.failures.end()) return;
    hr = it->second.hr;
    if (it->second.times > 0 && --it->second.times == 0) s.failures.erase(it);
  }

  // A message event of the session, kEventLatencyMs from now.
  void Message(LONG code, const char* text) {
    server.FireLocked(sim::Message(code, 0, 0, text), Now() + SimulatedServer::kEventLatencyMs);
  }
  // The unit's configuration; null for a unit the server does not have.
  const UnitConfig* Unit(LONG type, SHORT number) const;
  // Whether `afterMs` from the session's making has passed (-1: never).
  bool Reached(std::int64_t afterMs) const {
    return afterMs >= 0 && s.openedAtMs >= 0 && Now() >= s.openedAtMs + afterMs;
  }
  // What pump `number` reports: what a test set, else the instruments'
  // readings (four solvent channels).
  ServerPumpReading PumpReading(SHORT number) const {
    if (const auto it = s.pumpReadings.find(number); it != s.pumpReadings.end()) return it->second;
    const sim::PumpReading r = model.ReadPump(number - 1);
    const Composition& c = r.composition;
    return {r.flowUlMin / 1000.0, r.pressureBar / 10.0, {c.a, c.b, c.c, c.d}};
  }
  std::int64_t Now() const { return server.NowLocked(); }
  Program ProgramOfMethod() const;
  using SessionData = SimulatedServer::SessionData;
  std::vector<std::shared_ptr<SessionData>>& Sessions() { return server.m_sessions; }
  void WaitIdle() { server.WaitIdleLocked(lock); }
  static std::atomic<long>& LiveObjects() { return SimulatedServer::Get().m_liveObjects; }

  SimulatedServer& server;
  Scheduler::Lock lock;
  SimulatedServer::State& s;
  InstrumentModel& model;
  HRESULT hr = S_OK;
};

}  // namespace sim
