#include "sim/simulated_server.h"

#include <cstdio>

#include "sim/server_objects.h"
#ifdef _WIN32
#include "sim/windows/server_program.h"
#endif

namespace sim {

namespace {

// ErrorEvent bits of a pump.
constexpr SHORT kPumpUnderPressure = 1;
constexpr SHORT kPumpOverPressure = 2;

// An event argument.
VARIANT Arg(VARTYPE vt, LONG value, const std::string& text = {}) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  if (vt == VT_I2) v.iVal = static_cast<SHORT>(value);
  if (vt == VT_I4) v.lVal = value;
  if (vt == VT_BSTR) v.bstrVal = AllocText(text);
  return v;
}

}  // namespace

// ---- Events ----

void SimulatedServer::FireLocked(const ServerEvent& event, std::int64_t atMs) {
  if (m_pState->ended) return;
  ScheduleLocked(atMs, [this, event] {
    m_pState->ready.push_back(event);
    WakeLocked();
  });
}

void SimulatedServer::SendNow(ServerEvent event) {
  Lock lock(m_mutex);
  if (m_pState->ended) return;
  m_pState->ready.push_back(std::move(event));
  WaitIdleLocked(lock);
}

void SimulatedServer::EmitNoticeLocked(const Notice& n) {
  using Kind = Notice::Kind;
  const auto pump = static_cast<SHORT>(n.unit - kUnitPump1 + 1);
  std::optional<ServerEvent> event;
  switch (n.kind) {
    case Kind::kUpperPressure: event = Error(unitTypePump, pump, kPumpOverPressure, "Pump over pressure"); break;
    case Kind::kLowerPressure: event = Error(unitTypePump, pump, kPumpUnderPressure, "Pump under pressure"); break;
    case Kind::kInjected: event = Message(kMsgStepData, unitTypeAutosampler, 1, "Injected"); break;
    case Kind::kRunEnded: event = Message(kMsgRunEnded, 0, 0, "Run ended"); break;
    case Kind::kSamplerReady: event = Message(kMsgSamplerReady, unitTypeAutosampler, 1, "Autosampler ready"); break;
    default: break;  // the end of a sequence, outputs and valves make no event here
  }
  if (event) FireLocked(*event, n.atMs);
}

bool SimulatedServer::IdleLocked() const { return m_pState->ready.empty() && m_pState->inFlight == 0; }

void SimulatedServer::WakeOtherSideLocked(Lock&) {
  if (!m_pState->ready.empty()) WakeLocked();
}

std::string SimulatedServer::StallTextLocked() const {
  return "simulated server: " + std::to_string(m_pState->ready.size()) +
         " events waited 30 s for delivery; does a sink's Invoke wait for the server?";
}

std::vector<IDispatch*> SimulatedServer::SinksLocked() const {
  std::vector<IDispatch*> sinks;
  for (const auto& session : m_sessions) {
    for (const auto& a : session->advises) sinks.push_back(a.sink);
  }
  return sinks;
}

bool SimulatedServer::DeliverOneLocked(Lock& lock) {
  State& s = *m_pState;
  if (s.ready.empty()) return false;
  const ServerEvent event = std::move(s.ready.front());
  s.ready.pop_front();
  ++s.inFlight;
  const std::vector<IDispatch*> sinks = SinksLocked();
  lock.unlock();
  // Arguments last first: HplcMessage (type, number, code, text, second
  // text), ErrorEvent (type, sub-code, bits, text).
  const bool message = event.dispid == DISPID_HplcMessage;
  VARIANT args[5] = {Arg(VT_BSTR, 0), Arg(VT_BSTR, 0, event.text), Arg(message ? VT_I4 : VT_I2, event.code),
                     Arg(VT_I2, event.b), Arg(VT_I2, event.a)};
  DISPPARAMS params{message ? args : args + 1, nullptr, message ? 5u : 4u, 0};
  for (IDispatch* sink : sinks) {
    sink->Invoke(event.dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  }
  for (VARIANT& arg : args) VariantClear(&arg);
  lock.lock();
  if (s.trace) {
    TraceLocked(std::string("event ") + (message ? "HplcMessage(" : "ErrorEvent(") + std::to_string(event.a) + ", " +
                std::to_string(event.b) + ", " + std::to_string(event.code) + ", \"" + event.text + "\")");
  }
  --s.inFlight;
  m_idleCv.notify_all();
  return true;
}

void SimulatedServer::TraceLocked(const std::string& what) const {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10.3f ", static_cast<double>(NowLocked()) / 1000.0);
  m_pState->trace(stamp + what);
}

// ---- The server ----

SimulatedServer& SimulatedServer::Get() {
  // Never destroyed: its thread waits in it until the process ends.
  static SimulatedServer* const server = new SimulatedServer();
  return *server;
}

SimulatedServer::SimulatedServer() : m_pState(std::make_unique<State>()) {
  platform::Clock::Get().AddDriver(this);
  StartThread();
}

SimulatedServer::~SimulatedServer() = default;

HRESULT SimulatedServer::CreateRoot(REFIID riid, void** ppv) { return CreateServer(riid, ppv); }

namespace {
std::atomic<bool> g_registeredHere{false};
}  // namespace

bool SimulatedServer::RegisteredHere() { return g_registeredHere.load(); }

void SimulatedServer::Register() {
  g_registeredHere = true;
  Get();
  platform::com::RegisterClassObject(CLSID_TavixServer, &CreateServer);
#ifdef _WIN32
  // The server's program registered the whole library, which the session's
  // events are part of; one of this process's own would take its place.
  if (ServerProgramRegistered()) return;
#endif
  platform::com::RegisterTypeLib(LIBID_TAVIXSERVERLib, 1, 0,
                                 {{DIID__ITavixSession2Events,
                                   {{OLESTR("HplcMessage"), DISPID_HplcMessage},
                                    {OLESTR("ChangeStatus"), DISPID_ChangeStatus},
                                    {OLESTR("MeasrureSpectrum"), DISPID_MeasrureSpectrum},
                                    {OLESTR("ErrorEvent"), DISPID_ErrorEvent},
                                    {OLESTR("WarningEvent"), DISPID_WarningEvent}}}});
}

void SimulatedServer::ResetForTesting() {
  Register();
  Reset();
}

void SimulatedServer::Reset() {
  {
    Lock lock(m_mutex);
    WaitIdleLocked(lock);
    ResetLocked();
    *m_pState = State{};
  }
  platform::Clock::Get().AddDriver(this);
}

// ---- Test face ----

std::vector<std::string> SimulatedServer::Calls() const { return Locked([&] { return m_pState->calls; }); }
void SimulatedServer::ClearCallsForTesting() { Locked([&] { m_pState->calls.clear(); }); }

void SimulatedServer::FailCall(const std::string& operation, HRESULT hr, int times) {
  Locked([&] {
    m_pState->failures.erase(operation);
    if (times != 0) m_pState->failures[operation] = {hr, times};
  });
}

void SimulatedServer::SetUnitAbsent(LONG type, SHORT number, bool absent) {
  Locked([&] { m_pState->units[{type, number}].absent = absent; });
}

void SimulatedServer::SetUnitTiming(LONG type, SHORT number, std::int64_t presentAfterMs,
                                              std::int64_t connectedAfterMs) {
  Locked([&] {
    UnitConfig& unit = m_pState->units[{type, number}];
    unit.presentAfterMs = presentAfterMs;
    unit.connectedAfterMs = connectedAfterMs;
  });
}

void SimulatedServer::SetNetBoxSilent(bool silent) { Locked([&] { m_pState->netBoxSilent = silent; }); }
void SimulatedServer::SetNetBoxState(LONG state) { Locked([&] { m_pState->netBoxState = state; }); }
void SimulatedServer::SetSamplerState(LONG state) { Locked([&] { m_pState->samplerState = state; }); }
void SimulatedServer::SetLampStateForTesting(std::optional<LONG> state) {
  Locked([&] { m_pState->lampState = state; });
}
void SimulatedServer::SetPumpReadingForTesting(SHORT number, const ServerPumpReading& reading) {
  Locked([&] { m_pState->pumpReadings[number] = reading; });
}

void SimulatedServer::SendMessageForTesting(LONG code, SHORT unitType, SHORT unitNumber) {
  SendNow(Message(code, unitType, unitNumber, ""));
}
void SimulatedServer::SendErrorEvent(SHORT unitType, SHORT subCode, SHORT errorBits,
                                               const std::string& text) {
  SendNow(Error(unitType, subCode, errorBits, text));
}

void SimulatedServer::End() {
  Lock lock(m_mutex);
  m_pState->ended = true;
  m_pState->ready.clear();
  WaitIdleLocked(lock);
}
bool SimulatedServer::Ended() const { return Locked([&] { return m_pState->ended; }); }

ServerMethod SimulatedServer::CurrentMethod() const { return Locked([&] { return *m_pState->method; }); }
ServerSequence SimulatedServer::Sequence() const { return Locked([&] { return *m_pState->sequence; }); }
long SimulatedServer::LiveObjects() const { return m_liveObjects.load(); }
int SimulatedServer::AdvisedSinks() const {
  return Locked([&] { return static_cast<int>(SinksLocked().size()); });
}

void SimulatedServer::SetKeepLogs(bool keep) { Locked([&] { m_pState->keepLogs = keep; }); }
void SimulatedServer::SetTraceSink(std::function<void(const std::string& line)> sink) {
  Locked([&] { m_pState->trace = std::move(sink); });
}

}  // namespace sim
