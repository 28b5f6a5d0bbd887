#include "sim/simulated_server.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

#include "platform/win/threads.h"
#include "sim/solvents.h"

namespace sim {

using platform::com::FromUtf8;
using platform::com::ToUtf8;

namespace {

std::string Num(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

std::string Quote(BSTR text) { return "\"" + ToUtf8(text) + "\""; }

std::uint16_t ModelAddress(LONG type, SHORT number) {
  return static_cast<std::uint16_t>((type << 8) | (number & 0xFF));
}

constexpr LONG kPresentBit = 0x40000000;

}  // namespace

struct UnitConfig {
  bool absent = false;
  std::int64_t presentAfterMs = 0;
  std::int64_t connectedAfterMs = 0;
};

struct SessionData {
  struct Advise {
    DWORD cookie;
    IDispatch* sink;
  };
  std::vector<Advise> advises;
  bool open = false;
};

struct SimulatedServer::Internals {
  mutable std::mutex mutex;
  std::condition_variable readyCv;  // the event thread waits here
  std::condition_variable idleCv;   // callers wait here for delivery

  std::int64_t nowMs = 0;
  InstrumentModel model;
  std::multimap<std::int64_t, ServerEvent> pending;
  std::deque<ServerEvent> ready;
  int inFlight = 0;
  bool wake = false;
  bool inAdvance = false;

  std::vector<std::string> calls;
  std::vector<ServerEvent> events;
  bool keepLogs = true;
  std::function<void(const std::string&)> trace;
  struct Failure {
    HRESULT hr;
    int times;
  };
  std::map<std::string, Failure> failures;
  std::map<std::pair<LONG, SHORT>, UnitConfig> units;
  bool netBoxSilent = false;
  LONG netBoxState = 0;
  LONG samplerState = -1;
  std::optional<LONG> lampState;
  std::map<SHORT, ServerPumpReading> pumpReadings;  // by pump number
  std::int64_t openedAtMs = -1;
  DWORD nextCookie = 1;

  std::vector<std::shared_ptr<SessionData>> sessions;
  std::shared_ptr<ServerMethod> method = std::make_shared<ServerMethod>();
  std::shared_ptr<ServerSequence> sequence = std::make_shared<ServerSequence>();
  std::atomic<long> liveObjects{0};

  // Logs the call and gives the result a test asked for (S_OK if none).
  HRESULT Enter(const std::string& op, const std::string& args) {
    if (keepLogs) calls.push_back(op + "(" + args + ")");
    if (trace) Trace(op + "(" + args + ")");
    const auto it = failures.find(op);
    if (it == failures.end()) return S_OK;
    const HRESULT hr = it->second.hr;
    if (it->second.times > 0 && --it->second.times == 0) failures.erase(it);
    return hr;
  }

  std::int64_t NowLocked() const { return std::max(nowMs, platform::Clock::Get().NowMs()); }

  void Trace(const std::string& what) const {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ", static_cast<double>(NowLocked()) / 1000.0);
    trace(stamp + what);
  }

  void Schedule(ServerEvent event, std::int64_t atMs) {
    event.atMs = atMs;
    pending.emplace(atMs, std::move(event));
    wake = true;
    readyCv.notify_all();
  }
  void Message(LONG code, std::int64_t delay = kEventLatencyMs, SHORT type = 0, SHORT number = 0,
               const char* text = "") {
    ServerEvent e;
    e.dispid = DISPID_HplcMessage;
    e.a = type;
    e.b = number;
    e.code = code;
    e.text = text;
    Schedule(std::move(e), NowLocked() + delay);
  }
  void Error(SHORT type, SHORT sub, SHORT bits, std::string text, std::int64_t at) {
    ServerEvent e;
    e.dispid = DISPID_ErrorEvent;
    e.a = type;
    e.b = sub;
    e.code = static_cast<std::uint16_t>(bits);
    e.text = std::move(text);
    Schedule(std::move(e), at);
  }

  std::int64_t NextDueLocked() const {
    std::int64_t due = model.NextDeadline();
    if (!pending.empty()) due = std::min(due, pending.begin()->first);
    return due;
  }

  void EmitNotice(const Notice& n) {
    const SHORT pump = static_cast<SHORT>(n.unit - kUnitPump1 + 1);
    switch (n.kind) {
      case Notice::Kind::kUpperPressure: Error(1, pump, 2, "Pump over pressure", n.atMs); break;
      case Notice::Kind::kLowerPressure: Error(1, pump, 1, "Pump under pressure", n.atMs); break;
      case Notice::Kind::kInjected: Message(kMsgStepData, n.atMs - NowLocked(), 5, 1, "Injected"); break;
      case Notice::Kind::kRunEnded: Message(kMsgRunEnded, n.atMs - NowLocked(), 0, 0, "Run ended"); break;
      case Notice::Kind::kSamplerReady:
        Message(kMsgSamplerReady, n.atMs - NowLocked(), 5, 1, "Autosampler ready");
        break;
      case Notice::Kind::kSequenceDone:
      case Notice::Kind::kOutputSwitched:  // outputs and valves switch without an event here
      case Notice::Kind::kValveTurned: break;
    }
  }

  // Produces everything due up to `t`; with `waitForDelivery` returns only
  // when every event made ready has been delivered.
  void RunUntil(std::unique_lock<std::mutex>& lock, std::int64_t t, bool waitForDelivery) {
    std::vector<Notice> notices;
    for (;;) {
      const std::int64_t due = NextDueLocked();
      if (due > t) break;
      nowMs = std::max(nowMs, due);
      notices.clear();
      model.AdvanceTo(nowMs, notices);
      for (const Notice& n : notices) EmitNotice(n);
      while (!pending.empty() && pending.begin()->first <= nowMs) {
        ready.push_back(std::move(pending.begin()->second));
        pending.erase(pending.begin());
      }
      if (!ready.empty()) readyCv.notify_all();
      if (waitForDelivery) WaitIdle(lock);
    }
    nowMs = std::max(nowMs, t);
    notices.clear();
    model.AdvanceTo(nowMs, notices);
  }

  void CatchUp(std::unique_lock<std::mutex>& lock) {
    if (inAdvance) return;
    RunUntil(lock, NowLocked(), false);
  }

  void WaitIdle(std::unique_lock<std::mutex>& lock) {
    idleCv.wait(lock, [&] { return ready.empty() && inFlight == 0; });
  }

  std::vector<IDispatch*> Sinks() const {
    std::vector<IDispatch*> sinks;
    for (const auto& s : sessions) {
      for (const auto& a : s->advises) sinks.push_back(a.sink);
    }
    return sinks;
  }

  const UnitConfig* Unit(LONG type, SHORT number) const {
    static const UnitConfig kDefault;
    const auto it = units.find({type, number});
    if (it != units.end()) return &it->second;
    const bool known = (type == 0 && number == 0) || (type == 1 && number >= 1 && number <= 3) ||
                       ((type == 4 || type == 5 || type == 6) && number == 1);
    return known ? &kDefault : nullptr;
  }
  bool Reached(std::int64_t afterMs) const {
    return afterMs >= 0 && openedAtMs >= 0 && NowLocked() >= openedAtMs + afterMs;
  }

  Program BuildProgram() const {
    Program p;
    const ServerMethod& m = *method;
    p.systemCode = m.controlMode ? static_cast<std::uint32_t>(m.controlMode) : 1u;
    for (const ServerMethodItem& item : m.items) {
      const bool initial = item.time < 0;
      TimetableStep step;
      step.timeMs = static_cast<std::int64_t>(std::llround(item.time * 60000.0));
      step.unit = ModelAddress(item.unitType, item.unitNumber);
      Program::PumpStart& start = p.pumps[static_cast<std::size_t>(std::clamp<int>(item.unitNumber - 1, 0, 2))];
      const double* q = item.params;
      switch (item.function) {
        case HplcFuncFlow:
          (initial ? start.flowUlMin : step.flowUlMin) = q[0] * 1000.0;
          break;
        case HplcFuncComposition:
          (initial ? start.composition : step.composition) = Composition{q[0], q[1], q[2]};
          break;
        case HplcFuncMaxPressure:
          (initial ? start.upperLimitBar : step.upperLimitBar) = static_cast<int>(std::lround(q[0] * 10.0));
          break;
        case HplcFuncMinPressure: start.lowerLimitBar = static_cast<int>(std::lround(q[0] * 10.0)); break;
        case HplcFuncOvenTemperature: p.ovenTemperatureC = static_cast<int>(std::lround(q[0])); break;
        case HplcFuncWavelength: p.uvWavelengthTenthsNm = static_cast<int>(std::lround(q[0] * 10.0)); break;
        case HplcFuncResponse: p.uvResponse = static_cast<int>(std::lround(q[0])); break;
        default: break;  // network-box outputs and valves, zero requests: recorded only
      }
      if (!initial && (step.flowUlMin || step.composition || step.upperLimitBar)) p.timetable.push_back(step);
    }
    std::stable_sort(p.timetable.begin(), p.timetable.end(),
                     [](const TimetableStep& x, const TimetableStep& y) { return x.timeMs < y.timeMs; });
    const double runLength = m.runLength > 0 ? m.runLength : sequence->runLength;
    p.runTimeS = static_cast<std::int32_t>(std::lround(runLength * 60.0));
    if (sequence->vial > 0) p.vial = static_cast<int>(sequence->vial);
    p.injectVolumeNl = static_cast<std::int32_t>(std::lround(sequence->injectionVolume * 1000.0));
    p.flushCount = m.samplerCount > 0 ? static_cast<int>(m.samplerCount) : 1;
    return p;
  }

  void EventLoop();
  void Deliver(std::unique_lock<std::mutex>& lock);
};

// ---- COM objects ----

namespace {

SimulatedServer::Internals& In() { return SimulatedServer::Get().In(); }

// Reference counting and the live-object count shared by every object.
class SimObject {
 public:
  SimObject() { In().liveObjects.fetch_add(1); }
  SimObject(const SimObject&) = delete;
  SimObject& operator=(const SimObject&) = delete;
  virtual ~SimObject() { In().liveObjects.fetch_sub(1); }

 protected:
  ULONG DoAddRef() { return m_refs.fetch_add(1) + 1; }
  ULONG DoRelease() {
    const ULONG left = m_refs.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }
  template <class I>
  HRESULT Give(I* self, void** ppv) {
    *ppv = self;
    DoAddRef();
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

#define SIM_REFCOUNT                                                \
  STDMETHODIMP_(ULONG) AddRef() override { return DoAddRef(); }   \
  STDMETHODIMP_(ULONG) Release() override { return DoRelease(); }

// The common head of a simulated operation: lock, catch up, log, and the
// injected result.
#define SIM_ENTER(op, args)                            \
  auto& in = In();                                     \
  std::unique_lock<std::mutex> lock(in.mutex);         \
  in.CatchUp(lock);                                    \
  const HRESULT hr = in.Enter(op, args);               \
  if (FAILED(hr)) return hr;

#define SIM_ENTER_OUT(op, args, out) \
  if (!(out)) return E_POINTER;      \
  *(out) = nullptr;                  \
  SIM_ENTER(op, args)

class Solvent final : public SimObject, public ITavixSolvent {
 public:
  explicit Solvent(double percent) : m_percent(percent) {}
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixSolvent) return Give<ITavixSolvent>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetPercent(DOUBLE* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("Solvent.GetPercent", "");
    *p = m_percent;
    return hr;
  }

 private:
  double m_percent;
};

class Solvents final : public SimObject, public ITavixSolvents {
 public:
  explicit Solvents(int pump) : m_nPump(pump) {}
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixSolvents) return Give<ITavixSolvents>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetSolvent(LONG index, ITavixSolvent** pp) override {
    SIM_ENTER_OUT("Solvents.GetSolvent", std::to_string(index), pp);
    if (const auto it = in.pumpReadings.find(static_cast<SHORT>(m_nPump + 1)); it != in.pumpReadings.end()) {
      if (index < 0 || static_cast<std::size_t>(index) >= it->second.percents.size()) return E_INVALIDARG;
      *pp = new Solvent(it->second.percents[static_cast<std::size_t>(index)]);
      return hr;
    }
    if (index < 0 || index > 3) return E_INVALIDARG;
    const Composition c = in.model.ReadPump(m_nPump).composition;
    const double percents[4] = {c.a, c.b, c.c, std::max(0.0, 100.0 - c.a - c.b - c.c)};
    *pp = new Solvent(percents[index]);
    return hr;
  }
  STDMETHODIMP GetCount(LONG* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("Solvents.GetCount", "");
    const auto it = in.pumpReadings.find(static_cast<SHORT>(m_nPump + 1));
    *p = it != in.pumpReadings.end() ? static_cast<LONG>(it->second.percents.size()) : 4;
    return hr;
  }

 private:
  int m_nPump;
};

// A unit: answers ITavixUnit2 and the interface of its kind.
class Unit final : public SimObject,
                   public ITavixUnit2,
                   public ITavixNetBox,
                   public ITavixPump2,
                   public ITavixAutosampler2,
                   public ITavix_DET_UV2,
                   public ITavixOven {
 public:
  Unit(LONG type, SHORT number) : m_nType(type), m_nNumber(number) {}
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixUnit2) return Give<ITavixUnit2>(this, ppv);
    if (riid == IID_ITavixNetBox && m_nType == 0) return Give<ITavixNetBox>(this, ppv);
    if (riid == IID_ITavixPump2 && m_nType == 1) return Give<ITavixPump2>(this, ppv);
    if (riid == IID_ITavix_DET_UV2 && m_nType == 4) return Give<ITavix_DET_UV2>(this, ppv);
    if (riid == IID_ITavixAutosampler2 && m_nType == 5) return Give<ITavixAutosampler2>(this, ppv);
    if (riid == IID_ITavixOven && m_nType == 6) return Give<ITavixOven>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

  // ITavixUnit2
  STDMETHODIMP GetStatus(LONG* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER(Name("GetStatus"), "");
    const UnitConfig* config = in.Unit(m_nType, m_nNumber);
    *p = config && in.Reached(config->presentAfterMs) ? (kPresentBit | 1) : 0;
    return hr;
  }
  STDMETHODIMP GetConnected(SHORT* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER(Name("GetConnected"), "");
    const UnitConfig* config = in.Unit(m_nType, m_nNumber);
    *p = config && in.Reached(config->connectedAfterMs) ? 1 : 0;
    return hr;
  }
  STDMETHODIMP GetIdentification(BSTR* p) override {
    if (!p) return E_POINTER;
    *p = nullptr;
    SIM_ENTER(Name("GetIdentification"), "");
    static const char* const kNames[] = {"Quarn NetBox II v2.10", "Quarn 900 Pump", "", "", "Quarn 900 UV Detector",
                                         "Quarn 900 Autosampler", "Quarn 900 Column Oven"};
    std::string text = m_nType >= 0 && m_nType <= 6 ? kNames[m_nType] : "";
    if (m_nType == 1) text += " " + std::to_string(m_nNumber);
    if (m_nType == 0 && in.netBoxSilent) text.clear();
    const platform::com::OleString wide = FromUtf8(text);
    *p = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *p ? hr : E_OUTOFMEMORY;
  }
  STDMETHODIMP SendSettings() override {
    SIM_ENTER(Name("SendSettings"), "");
    return hr;
  }

  // ITavixNetBox
  STDMETHODIMP GetElapsedTime(DOUBLE* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("NetBox.GetElapsedTime", "");
    *p = in.model.ReadNode().elapsedMs / 60000.0;
    return hr;
  }
  STDMETHODIMP GetState(LONG* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("NetBox.GetState", "");
    *p = in.netBoxState ? in.netBoxState : static_cast<LONG>(in.model.ReadNode().state);
    return hr;
  }

  // ITavixPump2
  STDMETHODIMP GetFlow(DOUBLE* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("Pump.GetFlow", "");
    if (const auto it = in.pumpReadings.find(m_nNumber); it != in.pumpReadings.end()) {
      *p = it->second.flowMlMin;
      return hr;
    }
    *p = in.model.ReadPump(m_nNumber - 1).flowUlMin / 1000.0;
    return hr;
  }
  STDMETHODIMP GetPressure(DOUBLE* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("Pump.GetPressure", "");
    if (const auto it = in.pumpReadings.find(m_nNumber); it != in.pumpReadings.end()) {
      *p = it->second.pressureMPa;
      return hr;
    }
    *p = in.model.ReadPump(m_nNumber - 1).pressureBar / 10.0;
    return hr;
  }
  STDMETHODIMP SetFlow(DOUBLE flow) override {
    SIM_ENTER("Pump.SetFlow", Num(flow));
    in.model.SetPump(m_nNumber - 1, flow * 1000.0, std::nullopt, std::nullopt, std::nullopt);
    return hr;
  }
  STDMETHODIMP GetSolvents(ITavixSolvents** pp) override {
    SIM_ENTER_OUT("Pump.GetSolvents", "", pp);
    *pp = new Solvents(m_nNumber - 1);
    return hr;
  }

  // ITavixAutosampler2
  STDMETHODIMP GetSamplerState(LONG* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("Autosampler.GetSamplerState", "");
    *p = in.samplerState >= 0 ? in.samplerState : SamplerCode(in.model.ReadSampler().status);
    return hr;
  }

  // ITavix_DET_UV2
  STDMETHODIMP SetWavelength(DOUBLE nm) override {
    SIM_ENTER("UV.SetWavelength", Num(nm));
    in.model.SetUv(static_cast<int>(std::lround(nm * 10.0)), std::nullopt, std::nullopt);
    return hr;
  }
  STDMETHODIMP SetResponse(LONG response) override {
    SIM_ENTER("UV.SetResponse", std::to_string(response));
    in.model.SetUv(std::nullopt, static_cast<int>(response), std::nullopt);
    return hr;
  }
  STDMETHODIMP GetLampState(LONG* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("UV.GetLampState", "");
    *p = in.lampState ? *in.lampState : in.model.ReadUv().lampOn ? 3 : 0;
    return hr;
  }
  STDMETHODIMP SetLampState(LONG state) override {
    SIM_ENTER("UV.SetLampState", std::to_string(state));
    in.model.SetUv(std::nullopt, std::nullopt, state != 0);
    return hr;
  }

  // ITavixOven
  STDMETHODIMP GetTemperature(DOUBLE* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("Oven.GetTemperature", "");
    *p = in.model.ReadOven().temperatureC;
    return hr;
  }

 private:
  std::string Name(const char* op) const {
    static const char* const kKinds[] = {"NetBox", "Pump", "Unit", "Unit", "UV", "Autosampler", "Oven"};
    return std::string(m_nType >= 0 && m_nType <= 6 ? kKinds[m_nType] : "Unit") + "Unit." + op;
  }
  // The sampler's phase as the server reports it: 2 idle, 3 at the vial
  // or drawing, 5 injecting, 6 flushing (injecting and washing), 7
  // injected, 8 locked (homing or not ready).
  static LONG SamplerCode(std::uint32_t status) {
    switch (status) {
      case kSamplerReadyIdle: return 2;
      case kSamplerToVial:
      case kSamplerDrawing: return 3;
      case kSamplerInjecting: return 5;
      case kSamplerFlushing: return 6;
      case kSamplerInjected: return 7;
      default: return 8;
    }
  }

  LONG m_nType;
  SHORT m_nNumber;
};

class Units final : public SimObject, public ITavixUnits {
 public:
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixUnits) return Give<ITavixUnits>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetUnit(LONG type, SHORT number, ITavixUnit2** pp) override {
    SIM_ENTER_OUT("Units.GetUnit", std::to_string(type) + ", " + std::to_string(number), pp);
    const UnitConfig* config = in.Unit(type, number);
    if (!config || config->absent) return E_FAIL;
    *pp = new Unit(type, number);
    return hr;
  }
};

class MethodItem final : public SimObject, public ITavixMethodItem2 {
 public:
  MethodItem(std::shared_ptr<ServerMethod> method, std::size_t index) : m_pMethod(std::move(method)), m_nIndex(index) {}
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixMethodItem2) return Give<ITavixMethodItem2>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP SetTime(DOUBLE t) override {
    SIM_ENTER("Item.SetTime", Num(t));
    Item().time = t;
    return hr;
  }
  STDMETHODIMP SetUnitType(LONG type) override {
    SIM_ENTER("Item.SetUnitType", std::to_string(type));
    Item().setUnitType = type;
    return hr;
  }
  STDMETHODIMP SetFunction(HplcMethodFunc f) override {
    SIM_ENTER("Item.SetFunction", std::to_string(f));
    Item().function = f;
    return hr;
  }
  STDMETHODIMP SetParameters(DOUBLE p1, DOUBLE p2, DOUBLE p3, DOUBLE p4, DOUBLE p5, DOUBLE p6) override {
    SIM_ENTER("Item.SetParameters",
              Num(p1) + ", " + Num(p2) + ", " + Num(p3) + ", " + Num(p4) + ", " + Num(p5) + ", " + Num(p6));
    const double values[6] = {p1, p2, p3, p4, p5, p6};
    std::copy(values, values + 6, Item().params);
    return hr;
  }

 private:
  ServerMethodItem& Item() { return m_pMethod->items[m_nIndex]; }
  std::shared_ptr<ServerMethod> m_pMethod;
  std::size_t m_nIndex;
};

class Method final : public SimObject, public ITavixMethod2 {
 public:
  explicit Method(std::shared_ptr<ServerMethod> data) : m_pData(std::move(data)) {}
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixMethod2) return Give<ITavixMethod2>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP AddItem(LONG type, SHORT number, ITavixMethodItem2** pp) override {
    SIM_ENTER_OUT("Method.AddItem", std::to_string(type) + ", " + std::to_string(number), pp);
    ServerMethodItem item;
    item.unitType = type;
    item.unitNumber = number;
    m_pData->items.push_back(item);
    *pp = new MethodItem(m_pData, m_pData->items.size() - 1);
    return hr;
  }
  STDMETHODIMP SetRunLength(DOUBLE minutes) override { return Set("Method.SetRunLength", minutes, m_pData->runLength); }
  STDMETHODIMP SetActive(LONG v) override { return Set("Method.SetActive", v, m_pData->active); }
  STDMETHODIMP GetControlMode(LONG* p) override {
    if (!p) return E_POINTER;
    SIM_ENTER("Method.GetControlMode", "");
    *p = m_pData->controlMode;
    return hr;
  }
  STDMETHODIMP SetControlMode(LONG v) override { return Set("Method.SetControlMode", v, m_pData->controlMode); }
  STDMETHODIMP SetPumpOption(LONG v) override { return Set("Method.SetPumpOption", v, m_pData->pumpOption); }
  STDMETHODIMP SetSamplerTime(DOUBLE v) override { return Set("Method.SetSamplerTime", v, m_pData->samplerTime); }
  STDMETHODIMP SetSamplerCount(LONG v) override { return Set("Method.SetSamplerCount", v, m_pData->samplerCount); }
  STDMETHODIMP SetDetectorOption(LONG v) override {
    return Set("Method.SetDetectorOption", v, m_pData->detectorOption);
  }
  STDMETHODIMP SetOvenOption(LONG v) override { return Set("Method.SetOvenOption", v, m_pData->ovenOption); }

 private:
  template <class T>
  HRESULT Set(const char* op, T value, T& field) {
    SIM_ENTER(op, Num(static_cast<double>(value)));
    field = value;
    return hr;
  }
  std::shared_ptr<ServerMethod> m_pData;
};

class Sequence final : public SimObject, public ITavixSequence {
 public:
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixSequence) return Give<ITavixSequence>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP SetMethodName(BSTR name) override {
    SIM_ENTER("Sequence.SetMethodName", Quote(name));
    in.sequence->methodName = ToUtf8(name);
    return hr;
  }
  STDMETHODIMP AddMethod(ITavixMethod2** pp) override { return NewMethod("Sequence.AddMethod", pp); }
  STDMETHODIMP GetEmptyMethod(ITavixMethod2** pp) override { return NewMethod("Sequence.GetEmptyMethod", pp); }
  STDMETHODIMP SetRunLength(DOUBLE v) override {
    SIM_ENTER("Sequence.SetRunLength", Num(v));
    in.sequence->runLength = v;
    return hr;
  }
  STDMETHODIMP SetVial(LONG v) override {
    SIM_ENTER("Sequence.SetVial", std::to_string(v));
    in.sequence->vial = v;
    return hr;
  }
  STDMETHODIMP SetInjectionVolume(DOUBLE v) override {
    SIM_ENTER("Sequence.SetInjectionVolume", Num(v));
    in.sequence->injectionVolume = v;
    return hr;
  }
  STDMETHODIMP SetSamplerValue(DOUBLE v) override {
    SIM_ENTER("Sequence.SetSamplerValue", Num(v));
    in.sequence->samplerValue = v;
    return hr;
  }

 private:
  HRESULT NewMethod(const char* op, ITavixMethod2** pp) {
    SIM_ENTER_OUT(op, "", pp);
    in.method = std::make_shared<ServerMethod>();
    *pp = new Method(in.method);
    return hr;
  }
};

class Session final : public SimObject, public ITavixSession2, public IConnectionPointContainer, public IConnectionPoint {
 public:
  Session() : m_pData(std::make_shared<SessionData>()) {
    In().sessions.push_back(m_pData);  // made under the server's lock
  }
  ~Session() override {
    auto& in = In();
    std::unique_lock<std::mutex> lock(in.mutex);
    in.WaitIdle(lock);
    for (const auto& a : m_pData->advises) a.sink->Release();
    std::erase(in.sessions, m_pData);
  }
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixSession2) return Give<ITavixSession2>(this, ppv);
    if (riid == IID_IConnectionPointContainer) return Give<IConnectionPointContainer>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

  STDMETHODIMP Open(BSTR user) override {
    SIM_ENTER("Session.Open", Quote(user));
    m_pData->open = true;
    in.Message(SimulatedServer::kMsgConnected, SimulatedServer::kEventLatencyMs, 0, 0, "Connected");
    return hr;
  }
  STDMETHODIMP Close() override {
    SIM_ENTER("Session.Close", "");
    m_pData->open = false;
    return hr;
  }
  STDMETHODIMP ResetError() override {
    SIM_ENTER("Session.ResetError", "");
    in.model.ClearTrouble();
    return hr;
  }
  STDMETHODIMP GetUnits(ITavixUnits** pp) override {
    SIM_ENTER_OUT("Session.GetUnits", "", pp);
    *pp = new Units();
    return hr;
  }
  STDMETHODIMP GetSequence(ITavixSequence** pp) override {
    SIM_ENTER_OUT("Session.GetSequence", "", pp);
    *pp = new Sequence();
    return hr;
  }
  STDMETHODIMP StartInitial() override {
    SIM_ENTER("Session.StartInitial", "");
    in.model.LoadProgram(in.BuildProgram());
    in.model.PumpStart();
    in.Message(SimulatedServer::kMsgInitialStarted, SimulatedServer::kEventLatencyMs, 0, 0, "Initial conditions");
    return hr;
  }
  STDMETHODIMP PrepareRun() override {
    SIM_ENTER("Session.PrepareRun", "");
    in.model.LoadProgram(in.BuildProgram());
    return hr;
  }
  STDMETHODIMP StartRun() override {
    SIM_ENTER("Session.StartRun", "");
    in.model.LoadProgram(in.BuildProgram());
    in.model.StartRun();
    in.Message(SimulatedServer::kMsgMethodRunning, SimulatedServer::kEventLatencyMs, 0, 0, "Method running");
    return hr;
  }
  STDMETHODIMP EndRun() override {
    SIM_ENTER("Session.EndRun", "");
    in.model.StopRun();
    in.Message(SimulatedServer::kMsgRunEnded, SimulatedServer::kEventLatencyMs, 0, 0, "Run ended");
    return hr;
  }
  STDMETHODIMP EndMethod() override {
    SIM_ENTER("Session.EndMethod", "");
    in.model.PumpStop();
    in.Message(SimulatedServer::kMsgMethodEnded, SimulatedServer::kEventLatencyMs, 0, 0, "Method ended");
    return hr;
  }
  STDMETHODIMP AcknowledgeStepData() override {
    SIM_ENTER("Session.AcknowledgeStepData", "");
    return hr;
  }

  // IConnectionPointContainer / IConnectionPoint
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    if (riid != DIID__ITavixSession2Events) return CONNECT_E_NOCONNECTION;
    return Give<IConnectionPoint>(this, reinterpret_cast<void**>(pp));
  }
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = DIID__ITavixSession2Events;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** pp) override {
    if (!pp) return E_POINTER;
    return Give<IConnectionPointContainer>(this, reinterpret_cast<void**>(pp));
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    SIM_ENTER("Session.Advise", "");
    IDispatch* dispatch = nullptr;
    if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch) {
      return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = in.nextCookie++;
    m_pData->advises.push_back({*cookie, dispatch});
    return hr;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    SIM_ENTER("Session.Unadvise", std::to_string(cookie));
    in.WaitIdle(lock);  // no event is inside the sink while it goes
    auto& advises = m_pData->advises;
    const auto it = std::find_if(advises.begin(), advises.end(), [&](const auto& a) { return a.cookie == cookie; });
    if (it == advises.end()) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = it->sink;
    advises.erase(it);
    lock.unlock();
    sink->Release();
    return hr;
  }
  // The plug-in never enumerates; the server hands out no enumerators.
  STDMETHODIMP EnumConnections(IEnumConnections** pp) override {
    if (pp) *pp = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** pp) override {
    if (pp) *pp = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::shared_ptr<SessionData> m_pData;
};

class Server final : public SimObject, public ITavixServer {
 public:
  SIM_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITavixServer) return Give<ITavixServer>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP CreateSession(LONG flags, ITavixSession2** pp) override {
    SIM_ENTER_OUT("Server.CreateSession", std::to_string(flags), pp);
    in.openedAtMs = in.NowLocked();
    for (LONG type : {1, 4, 5, 6}) {
      for (SHORT n = 1; n <= (type == 1 ? 3 : 1); ++n) {
        const UnitConfig* config = in.Unit(type, n);
        in.model.SetUnitPresent(ModelAddress(type, n), config && !config->absent && config->presentAfterMs >= 0);
      }
    }
    *pp = new Session();
    return hr;
  }
};

HRESULT CreateServer(REFIID riid, void** ppv) {
  auto& in = In();
  HRESULT hr = S_OK;
  {
    std::unique_lock<std::mutex> lock(in.mutex);
    hr = in.Enter("CoCreateInstance", "");
  }
  if (FAILED(hr)) return hr;
  auto* server = new Server();
  const HRESULT qi = server->QueryInterface(riid, ppv);
  server->Release();
  return FAILED(qi) ? qi : hr;
}

}  // namespace

// ---- The event thread ----

void SimulatedServer::Internals::Deliver(std::unique_lock<std::mutex>& lock) {
  ServerEvent event = std::move(ready.front());
  ready.pop_front();
  ++inFlight;
  const std::vector<IDispatch*> sinks = Sinks();
  lock.unlock();
  VARIANT args[5];
  UINT count = 0;
  auto put = [&](VARTYPE vt, LONG value) {
    VariantInit(&args[count]);
    args[count].vt = vt;
    if (vt == VT_I2) args[count].iVal = static_cast<SHORT>(value);
    if (vt == VT_I4) args[count].lVal = value;
    ++count;
  };
  auto putText = [&](const std::string& text) {
    const platform::com::OleString wide = FromUtf8(text);
    VariantInit(&args[count]);
    args[count].vt = VT_BSTR;
    args[count].bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    ++count;
  };
  // Arguments last first.
  if (event.dispid == DISPID_HplcMessage) {
    putText("");
    putText(event.text);
    put(VT_I4, event.code);
    put(VT_I2, event.b);
    put(VT_I2, event.a);
  } else {
    putText(event.text);
    put(VT_I2, event.code);
    put(VT_I2, event.b);
    put(VT_I2, event.a);
  }
  DISPPARAMS params{args, nullptr, count, 0};
  for (IDispatch* sink : sinks) {
    sink->Invoke(event.dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  }
  for (UINT i = 0; i < count; ++i) VariantClear(&args[i]);
  event.deliveredOn = GetCurrentThreadId();
  event.sinks = static_cast<int>(sinks.size());
  lock.lock();
  if (trace) {
    Trace(std::string("event ") + (event.dispid == DISPID_HplcMessage ? "HplcMessage(" : "ErrorEvent(") +
          std::to_string(event.a) + ", " + std::to_string(event.b) + ", " + std::to_string(event.code) + ", \"" +
          event.text + "\")");
  }
  if (keepLogs) events.push_back(std::move(event));
  --inFlight;
  idleCv.notify_all();
}

void SimulatedServer::Internals::EventLoop() {
  platform::Clock& clock = platform::Clock::Get();
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    if (!ready.empty()) {
      Deliver(lock);
      continue;
    }
    wake = false;
    if (clock.GetMode() == platform::Clock::Mode::kVirtual) {
      // Virtual sleeps produce what is due; this thread only delivers.
      readyCv.wait(lock, [&] { return !ready.empty() || wake; });
      continue;
    }
    RunUntil(lock, clock.NowMs(), false);
    if (!ready.empty()) continue;
    const std::int64_t due = NextDueLocked();
    const std::int64_t waitMs = due == kNothingDue ? 1000 : std::max<std::int64_t>(1, due - clock.NowMs());
    clock.BackgroundWaitFor(lock, readyCv, waitMs, [&] { return wake || !ready.empty(); });
  }
}

// ---- The server ----

SimulatedServer& SimulatedServer::Get() {
  // Never destroyed: its thread waits in it until the process ends.
  static SimulatedServer* const server = [] {
    auto* s = new SimulatedServer();
    std::thread([s] { s->m_pIn->EventLoop(); }).detach();
    return s;
  }();
  return *server;
}

SimulatedServer::SimulatedServer() : m_pIn(std::make_unique<Internals>()) {
  platform::Clock::Get().AddDriver(this);
}

void SimulatedServer::Register() {
  Get();
  platform::com::RegisterClassObject(CLSID_TavixServer, &CreateServer);
  platform::com::RegisterTypeLib(LIBID_TAVIXSERVERLib, 1, 0,
                                 {{DIID__ITavixSession2Events,
                                   {{OLESTR("HplcMessage"), DISPID_HplcMessage},
                                    {OLESTR("ChangeStatus"), DISPID_ChangeStatus},
                                    {OLESTR("MeasrureSpectrum"), DISPID_MeasrureSpectrum},
                                    {OLESTR("ErrorEvent"), DISPID_ErrorEvent},
                                    {OLESTR("WarningEvent"), DISPID_WarningEvent}}}});
}

void SimulatedServer::AdvanceTo(std::int64_t nowMs) {
  std::unique_lock<std::mutex> lock(m_pIn->mutex);
  m_pIn->inAdvance = true;
  m_pIn->RunUntil(lock, nowMs, true);
  m_pIn->inAdvance = false;
}

std::int64_t SimulatedServer::NextDueMs() {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  return m_pIn->NextDueLocked();
}

void SimulatedServer::ResetForTesting() {
  Register();
  {
    Internals& in = *m_pIn;
    std::unique_lock<std::mutex> lock(in.mutex);
    in.WaitIdle(lock);
    in.nowMs = 0;
    in.model = InstrumentModel();
    in.pending.clear();
    in.calls.clear();
    in.events.clear();
    in.failures.clear();
    in.units.clear();
    in.netBoxSilent = false;
    in.netBoxState = 0;
    in.samplerState = -1;
    in.lampState.reset();
    in.pumpReadings.clear();
    in.openedAtMs = -1;
    in.nextCookie = 1;
    in.method = std::make_shared<ServerMethod>();
    in.sequence = std::make_shared<ServerSequence>();
    in.keepLogs = true;
    in.trace = nullptr;
  }
  platform::Clock::Get().AddDriver(this);
}

std::vector<std::string> SimulatedServer::Calls() const {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  return m_pIn->calls;
}

void SimulatedServer::ClearCallsForTesting() {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->calls.clear();
}

void SimulatedServer::FailForTesting(const std::string& operation, HRESULT hr, int times) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  if (times == 0) {
    m_pIn->failures.erase(operation);
  } else {
    m_pIn->failures[operation] = {hr, times};
  }
}

void SimulatedServer::SetUnitAbsentForTesting(LONG type, SHORT number, bool absent) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->units[{type, number}].absent = absent;
}

void SimulatedServer::SetUnitTimingForTesting(LONG type, SHORT number, std::int64_t presentAfterMs,
                                              std::int64_t connectedAfterMs) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  UnitConfig& unit = m_pIn->units[{type, number}];
  unit.presentAfterMs = presentAfterMs;
  unit.connectedAfterMs = connectedAfterMs;
}

void SimulatedServer::SetNetBoxSilentForTesting(bool silent) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->netBoxSilent = silent;
}

void SimulatedServer::SetNetBoxStateForTesting(LONG state) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->netBoxState = state;
}

void SimulatedServer::SetSamplerStateForTesting(LONG state) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->samplerState = state;
}

void SimulatedServer::SetPumpReadingForTesting(SHORT number, const ServerPumpReading& reading) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->pumpReadings[number] = reading;
}

void SimulatedServer::BlockLineForTesting() {
  std::unique_lock<std::mutex> lock(m_pIn->mutex);
  m_pIn->CatchUp(lock);
  m_pIn->model.BlockLine();
}

void SimulatedServer::SetLampStateForTesting(std::optional<LONG> state) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->lampState = state;
}

void SimulatedServer::SendMessageForTesting(LONG code, SHORT unitType, SHORT unitNumber) {
  std::unique_lock<std::mutex> lock(m_pIn->mutex);
  ServerEvent e;
  e.dispid = DISPID_HplcMessage;
  e.a = unitType;
  e.b = unitNumber;
  e.code = code;
  e.atMs = m_pIn->NowLocked();
  m_pIn->ready.push_back(std::move(e));
  m_pIn->readyCv.notify_all();
  m_pIn->WaitIdle(lock);
}

void SimulatedServer::SendErrorEventForTesting(SHORT unitType, SHORT subCode, SHORT errorBits,
                                               const std::string& text) {
  std::unique_lock<std::mutex> lock(m_pIn->mutex);
  ServerEvent e;
  e.dispid = DISPID_ErrorEvent;
  e.a = unitType;
  e.b = subCode;
  e.code = static_cast<std::uint16_t>(errorBits);
  e.text = text;
  e.atMs = m_pIn->NowLocked();
  m_pIn->ready.push_back(std::move(e));
  m_pIn->readyCv.notify_all();
  m_pIn->WaitIdle(lock);
}

std::vector<ServerEvent> SimulatedServer::Events() const {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  return m_pIn->events;
}

ServerMethod SimulatedServer::CurrentMethod() const {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  return *m_pIn->method;
}

ServerSequence SimulatedServer::Sequence() const {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  return *m_pIn->sequence;
}

long SimulatedServer::LiveObjects() const { return m_pIn->liveObjects.load(); }

int SimulatedServer::AdvisedSinks() const {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  return static_cast<int>(m_pIn->Sinks().size());
}

InstrumentModel SimulatedServer::InstrumentsNow() {
  std::unique_lock<std::mutex> lock(m_pIn->mutex);
  m_pIn->CatchUp(lock);
  return m_pIn->model;
}

void SimulatedServer::SetKeepLogs(bool keep) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->keepLogs = keep;
}

void SimulatedServer::FillBottles(const std::array<std::string, 3>& labels) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->model.SetBottles(BottlesFromLabels(labels));
}

void SimulatedServer::SetTraceSink(std::function<void(const std::string& line)> sink) {
  std::lock_guard<std::mutex> lock(m_pIn->mutex);
  m_pIn->trace = std::move(sink);
}

}  // namespace sim
