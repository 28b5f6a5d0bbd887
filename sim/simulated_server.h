// The simulated instrument server behind the server's COM interfaces
// (platform/tavix/tavix.h), driving the same instruments as the simulated
// network (sim/instrument_model.h). docs/simulator.md gives every call's
// effect, the units' answers and every event.
//
// Instrument face: CoCreateInstance of CLSID_TavixServer lands here once
// Register() has run (ResetForTesting runs it). A session finds units
// (network box 0/0, pumps 1/1 to 1/3, UV 4/1, autosampler 5/1, oven 6/1)
// and runs the method built from a sequence's method items on the
// instruments. A thread of the server's own calls IDispatch::Invoke on
// every advised sink: HplcMessage and ErrorEvent, arguments as VARIANTs in
// reverse order. Events caused by a call follow it by kEventLatencyMs;
// those of the instruments come at the time they happen.
//
// Time: the server runs on the scheduler (sim/scheduler.h), whose thread
// delivers the events: a virtual sleep returns only when every event due
// by then has been delivered and Invoke has returned. No call leaves the
// server holding its lock (the sinks' QueryInterface, Invoke and Release
// are the plug-in's).
//
// The server is one process-wide object that lives until the process
// ends. Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/tavix/tavix.h"
#include "sim/scheduler.h"

namespace sim {

struct ServerMethodItem {
  LONG unitType = 0;
  SHORT unitNumber = 0;
  double time = 0.0;
  LONG setUnitType = -1;  // -1 until SetUnitType
  LONG function = -1;     // -1 until SetFunction
  double params[6] = {};
};

struct ServerMethod {
  double runLength = 0.0;
  LONG active = 0;
  LONG controlMode = 0;
  LONG pumpOption = 0;
  double samplerTime = 0.0;
  LONG samplerCount = 0;
  LONG detectorOption = -1;
  LONG ovenOption = -1;
  std::vector<ServerMethodItem> items;
};

struct ServerSequence {
  std::string methodName;
  double runLength = 0.0;
  LONG vial = -1;
  double injectionVolume = 0.0;
  double samplerValue = 0.0;
};

// What a pump reports instead of the instruments' readings (test face).
struct ServerPumpReading {
  double flowMlMin = 0.0;
  double pressureMPa = 0.0;
  std::vector<double> percents;  // one solvent channel each; GetCount gives their number
};

struct ServerEvent;  // sim/server_objects.h

class SimulatedServer final : public Scheduler {
 public:
  static constexpr std::int64_t kEventLatencyMs = 10;
  // Message codes of HplcMessage.
  static constexpr LONG kMsgConnected = 1024, kMsgMethodRunning = 1025, kMsgRunEnded = 1026,
                        kMsgMethodEnded = 1027, kMsgInitialStarted = 1029, kMsgSamplerReady = 1028,
                        kMsgCommsLost = 1033, kMsgStepData = 66565;

  static SimulatedServer& Get();
  // Makes the server reachable through CoCreateInstance and its type
  // library through LoadRegTypeLib.
  static void Register();
  // Whether Register() has run in this process: its server is then the
  // one the plug-in reaches, wherever else one is registered.
  static bool RegisteredHere();
  // The root object, as CoCreateInstance of CLSID_TavixServer makes it.
  static HRESULT CreateRoot(REFIID riid, void** ppv);

  // ---- Test face ----
  // Fresh server: logs, switches and events cleared, every unit present
  // and connected at once, instruments at power-up, registered with the
  // clock and with COM. Objects still held by a test stay usable.
  void ResetForTesting();
  // The same renewal without registering the server (its own program
  // registers it).
  void Reset();

  // Calls as "Interface.Operation(arguments)", e.g. "Session.Open(\"1\")".
  std::vector<std::string> Calls() const;
  void ClearCallsForTesting();

  // ---- Control face (sim/control.h sets these; tests may too) ----
  // `operation` ("Session.Open", "Units.GetUnit", "CoCreateInstance", ...)
  // returns `hr` for its next `times` calls (-1: every call).
  void FailCall(const std::string& operation, HRESULT hr, int times = -1);
  // GetUnit of this unit fails with E_FAIL.
  void SetUnitAbsent(LONG type, SHORT number, bool absent = true);
  // Bit 30 of the unit's status from `presentAfterMs` after the session
  // was made, its connected flag from `connectedAfterMs`; -1: never.
  void SetUnitTiming(LONG type, SHORT number, std::int64_t presentAfterMs, std::int64_t connectedAfterMs);
  // The network box gives an empty identification.
  void SetNetBoxSilent(bool silent);
  // The network box reports `state` (GetState) until 0 is set again.
  void SetNetBoxState(LONG state);
  // The autosampler reports `state` (GetSamplerState) until -1 is set.
  void SetSamplerState(LONG state);
  // An error event now, delivered from the server thread before the call
  // returns (to the sinks advised at the time).
  void SendErrorEvent(SHORT unitType, SHORT subCode, SHORT errorBits, const std::string& text);
  // The server is gone, as when its program ends, until the next reset:
  // every call fails with kServerGone without acting or being logged, and
  // no event is sent. The objects stay valid, as a client's proxies do.
  void End();
  bool Ended() const;
  // What a call to a server whose program ended returns: the system's
  // "The RPC server is unavailable".
  static constexpr HRESULT kServerGone = static_cast<HRESULT>(0x800706BA);

  // ---- Test face, continued ----
  // Pump `number` (1 to 3) reports `reading` (flow, pressure, solvent
  // channels) until ResetForTesting.
  void SetPumpReadingForTesting(SHORT number, const ServerPumpReading& reading);
  // The UV detector reports `state` (GetLampState) until nullopt is set.
  void SetLampStateForTesting(std::optional<LONG> state);
  // An event now, delivered from the server thread before the call
  // returns (to the sinks advised at the time).
  void SendMessageForTesting(LONG code, SHORT unitType = 0, SHORT unitNumber = 0);

  // The method the sequence runs (the last one added or emptied) and the
  // sequence; empty ones before a session made them.
  ServerMethod CurrentMethod() const;
  ServerSequence Sequence() const;
  // Server objects (root, sessions, units, ...) not yet released.
  long LiveObjects() const;
  // Sinks advised and not unadvised.
  int AdvisedSinks() const;
  // InstrumentsNow, BlockLine and FillBottles: sim/scheduler.h.

  // ---- Host face ----
  // Off: calls are no longer kept for Calls(), so that a long run's polls
  // cost no memory (on after ResetForTesting).
  void SetKeepLogs(bool keep);
  // Receives every call and every delivered event as one line of text,
  // "<clock seconds> <call>" or "<clock seconds> event <name>(...)", on
  // the thread that made the call or delivered the event, under the
  // server's lock (it must not call the server). Null: none.
  void SetTraceSink(std::function<void(const std::string& line)> sink);

 private:
  friend class ServerCall;  // the server objects' way in (sim/simulated_server.cc)
  struct State;             // everything a reset renews

  SimulatedServer();
  ~SimulatedServer() override;

  // ---- Scheduler ----
  void EmitNoticeLocked(const Notice& notice) override;
  bool IdleLocked() const override;
  void WakeOtherSideLocked(Lock& lock) override;
  bool DeliverOneLocked(Lock& lock) override;
  std::string StallTextLocked() const override;

  // `event` is fired at `atMs`.
  void FireLocked(const ServerEvent& event, std::int64_t atMs);
  // `event` now, delivered before this returns.
  void SendNow(ServerEvent event);
  std::vector<IDispatch*> SinksLocked() const;
  void TraceLocked(const std::string& what) const;

  std::unique_ptr<State> m_pState;
  struct SessionData;
  std::vector<std::shared_ptr<SessionData>> m_sessions;  // kept across resets
  std::atomic<long> m_liveObjects{0};
};

}  // namespace sim
