#include "sim/server_objects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>

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

// A unit's address on the instruments: type x 256 + number.
std::uint16_t ModelAddress(LONG type, SHORT number) {
  return static_cast<std::uint16_t>((type << 8) | (number & 0xFF));
}

// The units the server has.
struct KnownUnit {
  TavixUnitType type;
  SHORT number;
};
constexpr KnownUnit kKnownUnits[] = {{unitTypeNetBox, 0},     {unitTypePump, 1},        {unitTypePump, 2},
                                     {unitTypePump, 3},       {unitTypeUVDetector, 1},  {unitTypeAutosampler, 1},
                                     {unitTypeColumnOven, 1}};

// What a method's items mean to the instruments.
Program BuildProgram(const ServerMethod& m, const ServerSequence& sequence) {
  Program p;
  p.systemCode = m.controlMode ? static_cast<std::uint32_t>(m.controlMode) : kSystemSingle;
  for (const ServerMethodItem& item : m.items) {
    const bool initial = item.time < 0;
    TimetableStep step{static_cast<std::int64_t>(std::llround(item.time * 60000.0)),
                       ModelAddress(item.unitType, item.unitNumber), {}};
    PumpSettings& start = p.pumps[static_cast<std::size_t>(std::clamp<int>(item.unitNumber - 1, 0, 2))];
    PumpSettings& set = initial ? start : step.set;
    const double q = item.params[0];
    switch (item.function) {
      case HplcFuncFlow: set.flowUlMin = q * 1000.0; break;
      case HplcFuncComposition:
        set.composition = Composition{q, item.params[1], item.params[2], item.params[3]};
        break;
      case HplcFuncMaxPressure: set.upperLimitBar = static_cast<int>(std::lround(q * 10.0)); break;
      case HplcFuncMinPressure: start.lowerLimitBar = static_cast<int>(std::lround(q * 10.0)); break;
      case HplcFuncOvenTemperature: p.ovenTemperatureC = static_cast<int>(std::lround(q)); break;
      case HplcFuncWavelength: p.uvWavelengthTenthsNm = static_cast<int>(std::lround(q * 10.0)); break;
      case HplcFuncResponse: p.uvResponse = static_cast<int>(std::lround(q)); break;
      default: break;  // network-box outputs and valves, zero requests: recorded only
    }
    if (!initial && (step.set.flowUlMin || step.set.composition || step.set.upperLimitBar)) p.timetable.push_back(step);
  }
  std::stable_sort(p.timetable.begin(), p.timetable.end(),
                   [](const TimetableStep& x, const TimetableStep& y) { return x.timeMs < y.timeMs; });
  const double runLength = m.runLength > 0 ? m.runLength : sequence.runLength;
  p.runTimeS = static_cast<std::int32_t>(std::lround(runLength * 60.0));
  if (sequence.vial > 0) p.vial = static_cast<int>(sequence.vial);
  p.injectVolumeNl = static_cast<std::int32_t>(std::lround(sequence.injectionVolume * 1000.0));
  p.flushCount = m.samplerCount > 0 ? static_cast<int>(m.samplerCount) : 1;
  return p;
}

// The sampler's phase as the server reports it, by the instruments' status.
LONG SamplerState(std::uint32_t status) {
  static constexpr std::pair<std::uint32_t, LONG> kStates[] = {
      {kSamplerReadyIdle, samplerIdle},       {kSamplerToVial, samplerDrawing},   {kSamplerDrawing, samplerDrawing},
      {kSamplerInjecting, samplerInjecting}, {kSamplerFlushing, samplerWashing}, {kSamplerInjected, samplerInjected}};
  for (const auto& [from, state] : kStates) {
    if (from == status) return state;
  }
  return samplerLocked;
}

}  // namespace

BSTR AllocText(const std::string& text) {
  const platform::com::OleString wide = FromUtf8(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

const UnitConfig* ServerCall::Unit(LONG type, SHORT number) const {
  static const UnitConfig kDefault;
  if (const auto it = s.units.find({type, number}); it != s.units.end()) return &it->second;
  const bool known = std::any_of(std::begin(kKnownUnits), std::end(kKnownUnits),
                                 [&](const KnownUnit& u) { return u.type == type && u.number == number; });
  return known ? &kDefault : nullptr;
}

Program ServerCall::ProgramOfMethod() const { return BuildProgram(*s.method, *s.sequence); }

namespace {

// Runs `act` in a call of `op` unless a test made the call fail. `act` may
// return a failure of its own, which then is the result.
template <class Act>
HRESULT Run(OpName op, std::string_view args, Act act) {
  ServerCall call(op, args);
  if (FAILED(call.hr)) return call.hr;
  if constexpr (std::is_void_v<decltype(act(call))>) {
    act(call);
  } else {
    const HRESULT own = act(call);
    if (FAILED(own)) return own;
  }
  return call.hr;
}

// A call that gives a value: `*out` is set only on success.
template <class T, class Act>
HRESULT Get(OpName op, T* out, Act act) {
  if (!out) return E_POINTER;
  return Run(op, "", [&](ServerCall& call) { *out = static_cast<T>(act(call)); });
}

// A call that hands out an object: `*out` is null unless it succeeds.
template <class I, class Act>
HRESULT Make(OpName op, std::string_view args, I** out, Act act) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Run(op, args, act);
}

template <class I>
const IID& IidOf();
template <> const IID& IidOf<ITavixServer>() { return IID_ITavixServer; }
template <> const IID& IidOf<ITavixSession2>() { return IID_ITavixSession2; }
template <> const IID& IidOf<IConnectionPointContainer>() { return IID_IConnectionPointContainer; }
template <> const IID& IidOf<IConnectionPoint>() { return IID_IConnectionPoint; }
template <> const IID& IidOf<ITavixUnits>() { return IID_ITavixUnits; }
template <> const IID& IidOf<ITavixUnit2>() { return IID_ITavixUnit2; }
template <> const IID& IidOf<ITavixNetBox>() { return IID_ITavixNetBox; }
template <> const IID& IidOf<ITavixPump2>() { return IID_ITavixPump2; }
template <> const IID& IidOf<ITavixSolvents>() { return IID_ITavixSolvents; }
template <> const IID& IidOf<ITavixSolvent>() { return IID_ITavixSolvent; }
template <> const IID& IidOf<ITavixAutosampler2>() { return IID_ITavixAutosampler2; }
template <> const IID& IidOf<ITavix_DET_UV2>() { return IID_ITavix_DET_UV2; }
template <> const IID& IidOf<ITavixOven>() { return IID_ITavixOven; }
template <> const IID& IidOf<ITavixSequence>() { return IID_ITavixSequence; }
template <> const IID& IidOf<ITavixMethod2>() { return IID_ITavixMethod2; }
template <> const IID& IidOf<ITavixMethodItem2>() { return IID_ITavixMethodItem2; }

// A server object: reference counting, the count of live objects, and a
// QueryInterface that answers IUnknown (as `First`) and each interface it
// implements, and nothing else.
template <class First, class... Rest>
class SimObject : public First, public Rest... {
 public:
  SimObject() { ServerCall::LiveObjects().fetch_add(1); }
  SimObject(const SimObject&) = delete;
  SimObject& operator=(const SimObject&) = delete;
  virtual ~SimObject() { ServerCall::LiveObjects().fetch_sub(1); }

  STDMETHODIMP_(ULONG) AddRef() override { return m_refs.fetch_add(1) + 1; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = m_refs.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IidOf<First>() ? static_cast<First*>(this) : nullptr;
    ((*ppv = !*ppv && riid == IidOf<Rest>() ? static_cast<Rest*>(this) : *ppv), ...);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

class Solvent final : public SimObject<ITavixSolvent> {
 public:
  explicit Solvent(double percent) : m_percent(percent) {}
  STDMETHODIMP GetPercent(DOUBLE* p) override {
    return Get("Solvent.GetPercent", p, [&](ServerCall&) { return m_percent; });
  }

 private:
  double m_percent;
};

// The pump's solvent channels as they were when the collection was asked
// for: a poll reads them all at one time.
class Solvents final : public SimObject<ITavixSolvents> {
 public:
  explicit Solvents(std::vector<double> percents) : m_percents(std::move(percents)) {}
  STDMETHODIMP GetSolvent(LONG index, ITavixSolvent** pp) override {
    return Make("Solvents.GetSolvent", std::to_string(index), pp, [&](ServerCall&) {
      if (index < 0 || static_cast<std::size_t>(index) >= m_percents.size()) return E_INVALIDARG;
      *pp = new Solvent(m_percents[static_cast<std::size_t>(index)]);
      return S_OK;
    });
  }
  STDMETHODIMP GetCount(LONG* p) override {
    return Get("Solvents.GetCount", p, [&](ServerCall&) { return m_percents.size(); });
  }

 private:
  std::vector<double> m_percents;
};

// A unit: ITavixUnit2 and the interface of its kind.
template <class Kind>
class Unit : public SimObject<ITavixUnit2, Kind> {
 public:
  // `opPrefix` names its operations ("PumpUnit."); a pump's model name is
  // followed by its number.
  Unit(const char* opPrefix, TavixUnitType type, SHORT number, const char* model)
      : m_opPrefix(opPrefix), m_type(type), m_nNumber(number), m_model(model) {}

  STDMETHODIMP GetStatus(LONG* p) override {
    return Get(Op("GetStatus"), p, [&](ServerCall& call) {
      return Reached(call, &UnitConfig::presentAfterMs) ? kTavixUnitPresentBit | 1 : 0;
    });
  }
  STDMETHODIMP GetConnected(SHORT* p) override {
    return Get(Op("GetConnected"), p,
               [&](ServerCall& call) { return Reached(call, &UnitConfig::connectedAfterMs) ? 1 : 0; });
  }
  STDMETHODIMP GetIdentification(BSTR* p) override {
    return Make(Op("GetIdentification"), "", p, [&](ServerCall& call) {
      const bool silent = m_type == unitTypeNetBox && call.s.netBoxSilent;
      std::string text = silent ? "" : m_model;
      if (!silent && m_type == unitTypePump) text += " " + std::to_string(m_nNumber);
      *p = AllocText(text);
      return *p ? S_OK : E_OUTOFMEMORY;
    });
  }
  STDMETHODIMP SendSettings() override { return Run(Op("SendSettings"), "", [](ServerCall&) {}); }

 protected:
  OpName Op(const char* op) const { return {m_opPrefix, op}; }
  SHORT Number() const { return m_nNumber; }

 private:
  // Whether the unit's time `when` after the session's making has passed.
  bool Reached(const ServerCall& call, std::int64_t UnitConfig::*when) const {
    const UnitConfig* config = call.Unit(m_type, m_nNumber);
    return config && call.Reached(config->*when);
  }

  const char* m_opPrefix;
  TavixUnitType m_type;
  SHORT m_nNumber;
  const char* m_model;
};

class NetBoxUnit final : public Unit<ITavixNetBox> {
 public:
  NetBoxUnit() : Unit("NetBoxUnit.", unitTypeNetBox, 0, "Quarn NetBox II v2.10") {}
  STDMETHODIMP GetElapsedTime(DOUBLE* p) override {
    return Get("NetBox.GetElapsedTime", p, [](ServerCall& call) { return call.model.ReadNode().elapsedMs / 60000.0; });
  }
  STDMETHODIMP GetState(LONG* p) override {
    return Get("NetBox.GetState", p, [](ServerCall& call) {
      return call.s.netBoxState ? call.s.netBoxState : static_cast<LONG>(call.model.ReadNode().state);
    });
  }
};

class PumpUnit final : public Unit<ITavixPump2> {
 public:
  explicit PumpUnit(SHORT number) : Unit("PumpUnit.", unitTypePump, number, "Quarn 900 Pump") {}
  STDMETHODIMP GetFlow(DOUBLE* p) override {
    return Get("Pump.GetFlow", p, [&](ServerCall& call) { return call.PumpReading(Number()).flowMlMin; });
  }
  STDMETHODIMP GetPressure(DOUBLE* p) override {
    return Get("Pump.GetPressure", p, [&](ServerCall& call) { return call.PumpReading(Number()).pressureMPa; });
  }
  STDMETHODIMP SetFlow(DOUBLE flow) override {
    return Run("Pump.SetFlow", Num(flow),
               [&](ServerCall& call) { call.model.SetPump(Number() - 1, {flow * 1000.0, {}, {}, {}}); });
  }
  STDMETHODIMP GetSolvents(ITavixSolvents** pp) override {
    return Make("Pump.GetSolvents", "", pp,
                [&](ServerCall& call) { *pp = new Solvents(call.PumpReading(Number()).percents); });
  }
};

class AutosamplerUnit final : public Unit<ITavixAutosampler2> {
 public:
  AutosamplerUnit() : Unit("AutosamplerUnit.", unitTypeAutosampler, 1, "Quarn 900 Autosampler") {}
  STDMETHODIMP GetSamplerState(LONG* p) override {
    return Get("Autosampler.GetSamplerState", p, [](ServerCall& call) {
      return call.s.samplerState >= 0 ? call.s.samplerState : SamplerState(call.model.ReadSampler().status);
    });
  }
};

class UvUnit final : public Unit<ITavix_DET_UV2> {
 public:
  UvUnit() : Unit("UVUnit.", unitTypeUVDetector, 1, "Quarn 900 UV Detector") {}
  STDMETHODIMP SetWavelength(DOUBLE nm) override {
    return Run("UV.SetWavelength", Num(nm),
               [&](ServerCall& call) { call.model.SetUv(static_cast<int>(std::lround(nm * 10.0)), {}, {}); });
  }
  STDMETHODIMP SetResponse(LONG response) override {
    return Run("UV.SetResponse", std::to_string(response),
               [&](ServerCall& call) { call.model.SetUv({}, static_cast<int>(response), {}); });
  }
  STDMETHODIMP GetLampState(LONG* p) override {
    return Get("UV.GetLampState", p, [](ServerCall& call) {
      return call.s.lampState ? *call.s.lampState : call.model.ReadUv().lampOn ? lampOn : lampOff;
    });
  }
  STDMETHODIMP SetLampState(LONG state) override {
    return Run("UV.SetLampState", std::to_string(state),
               [&](ServerCall& call) { call.model.SetUv({}, {}, state != lampOff); });
  }
};

class OvenUnit final : public Unit<ITavixOven> {
 public:
  OvenUnit() : Unit("OvenUnit.", unitTypeColumnOven, 1, "Quarn 900 Column Oven") {}
  STDMETHODIMP GetTemperature(DOUBLE* p) override {
    return Get("Oven.GetTemperature", p, [](ServerCall& call) { return call.model.ReadOven().temperatureC; });
  }
};

class Units final : public SimObject<ITavixUnits> {
 public:
  STDMETHODIMP GetUnit(LONG type, SHORT number, ITavixUnit2** pp) override {
    return Make("Units.GetUnit", std::to_string(type) + ", " + std::to_string(number), pp, [&](ServerCall& call) {
      const UnitConfig* config = call.Unit(type, number);
      if (!config || config->absent) return E_FAIL;
      switch (type) {
        case unitTypeNetBox: *pp = new NetBoxUnit(); break;
        case unitTypePump: *pp = new PumpUnit(number); break;
        case unitTypeUVDetector: *pp = new UvUnit(); break;
        case unitTypeAutosampler: *pp = new AutosamplerUnit(); break;
        default: *pp = new OvenUnit(); break;
      }
      return S_OK;
    });
  }
};

class MethodItem final : public SimObject<ITavixMethodItem2> {
 public:
  MethodItem(std::shared_ptr<ServerMethod> method, std::size_t index) : m_pMethod(std::move(method)), m_nIndex(index) {}
  STDMETHODIMP SetTime(DOUBLE t) override { return Run("Item.SetTime", Num(t), [&](ServerCall&) { Item().time = t; }); }
  STDMETHODIMP SetUnitType(LONG type) override {
    return Run("Item.SetUnitType", std::to_string(type), [&](ServerCall&) { Item().setUnitType = type; });
  }
  STDMETHODIMP SetFunction(HplcMethodFunc f) override {
    return Run("Item.SetFunction", std::to_string(f), [&](ServerCall&) { Item().function = f; });
  }
  STDMETHODIMP SetParameters(DOUBLE p1, DOUBLE p2, DOUBLE p3, DOUBLE p4, DOUBLE p5, DOUBLE p6) override {
    const double values[6] = {p1, p2, p3, p4, p5, p6};
    std::string args = Num(p1);
    for (int i = 1; i < 6; ++i) args += ", " + Num(values[i]);
    return Run("Item.SetParameters", args, [&](ServerCall&) { std::copy(values, values + 6, Item().params); });
  }

 private:
  ServerMethodItem& Item() { return m_pMethod->items[m_nIndex]; }
  std::shared_ptr<ServerMethod> m_pMethod;
  std::size_t m_nIndex;
};

class Method final : public SimObject<ITavixMethod2> {
 public:
  explicit Method(std::shared_ptr<ServerMethod> data) : m_pData(std::move(data)) {}
  STDMETHODIMP AddItem(LONG type, SHORT number, ITavixMethodItem2** pp) override {
    return Make("Method.AddItem", std::to_string(type) + ", " + std::to_string(number), pp, [&](ServerCall&) {
      m_pData->items.push_back({type, number});
      *pp = new MethodItem(m_pData, m_pData->items.size() - 1);
    });
  }
  STDMETHODIMP GetControlMode(LONG* p) override {
    return Get("Method.GetControlMode", p, [&](ServerCall&) { return m_pData->controlMode; });
  }
  STDMETHODIMP SetRunLength(DOUBLE minutes) override { return Set("Method.SetRunLength", minutes, m_pData->runLength); }
  STDMETHODIMP SetActive(LONG v) override { return Set("Method.SetActive", v, m_pData->active); }
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
  static HRESULT Set(const char* op, T value, T& field) {
    return Run(op, Num(static_cast<double>(value)), [&](ServerCall&) { field = value; });
  }
  std::shared_ptr<ServerMethod> m_pData;
};
class Sequence final : public SimObject<ITavixSequence> {
 public:
  STDMETHODIMP SetMethodName(BSTR name) override {
    return Run("Sequence.SetMethodName", Quote(name),
               [&](ServerCall& call) { call.s.sequence->methodName = ToUtf8(name); });
  }
  STDMETHODIMP AddMethod(ITavixMethod2** pp) override { return NewMethod("Sequence.AddMethod", pp); }
  STDMETHODIMP GetEmptyMethod(ITavixMethod2** pp) override { return NewMethod("Sequence.GetEmptyMethod", pp); }
  STDMETHODIMP SetRunLength(DOUBLE v) override { return Set("Sequence.SetRunLength", v, &ServerSequence::runLength); }
  STDMETHODIMP SetVial(LONG v) override { return Set("Sequence.SetVial", v, &ServerSequence::vial); }
  STDMETHODIMP SetInjectionVolume(DOUBLE v) override {
    return Set("Sequence.SetInjectionVolume", v, &ServerSequence::injectionVolume);
  }
  STDMETHODIMP SetSamplerValue(DOUBLE v) override {
    return Set("Sequence.SetSamplerValue", v, &ServerSequence::samplerValue);
  }

 private:
  template <class T>
  static HRESULT Set(const char* op, T value, T ServerSequence::*field) {
    const std::string args = std::is_integral_v<T> ? std::to_string(value) : Num(static_cast<double>(value));
    return Run(op, args, [&](ServerCall& call) { (*call.s.sequence).*field = value; });
  }
  static HRESULT NewMethod(const char* op, ITavixMethod2** pp) {
    return Make(op, "", pp, [&](ServerCall& call) {
      call.s.method = std::make_shared<ServerMethod>();
      *pp = new Method(call.s.method);
    });
  }
};

class Session final : public SimObject<ITavixSession2, IConnectionPointContainer, IConnectionPoint> {
 public:
  using Data = ServerCall::SessionData;

  explicit Session(ServerCall& call) : m_pData(std::make_shared<Data>()) { call.Sessions().push_back(m_pData); }
  ~Session() override {
    std::vector<Data::Advise> advises;
    {
      ServerCall call;
      call.WaitIdle();
      advises.swap(m_pData->advises);
      std::erase(call.Sessions(), m_pData);
    }
    for (const Data::Advise& a : advises) a.sink->Release();  // the plug-in's: outside the lock
  }

  STDMETHODIMP Open(BSTR user) override {
    return Run("Session.Open", Quote(user),
               [](ServerCall& call) { call.Message(SimulatedServer::kMsgConnected, "Connected"); });
  }
  STDMETHODIMP Close() override { return Run("Session.Close", "", [](ServerCall&) {}); }
  STDMETHODIMP ResetError() override { return Control("Session.ResetError", false, &InstrumentModel::ClearTrouble); }
  STDMETHODIMP GetUnits(ITavixUnits** pp) override {
    return Make("Session.GetUnits", "", pp, [&](ServerCall&) { *pp = new Units(); });
  }
  STDMETHODIMP GetSequence(ITavixSequence** pp) override {
    return Make("Session.GetSequence", "", pp, [&](ServerCall&) { *pp = new Sequence(); });
  }
  STDMETHODIMP StartInitial() override {
    return Control("Session.StartInitial", true, &InstrumentModel::PumpStart, SimulatedServer::kMsgInitialStarted,
                   "Initial conditions");
  }
  STDMETHODIMP PrepareRun() override { return Control("Session.PrepareRun", true, nullptr); }
  STDMETHODIMP StartRun() override {
    return Control("Session.StartRun", true, &InstrumentModel::StartRun, SimulatedServer::kMsgMethodRunning,
                   "Method running");
  }
  STDMETHODIMP EndRun() override {
    return Control("Session.EndRun", false, &InstrumentModel::StopRun, SimulatedServer::kMsgRunEnded, "Run ended");
  }
  STDMETHODIMP EndMethod() override {
    return Control("Session.EndMethod", false, &InstrumentModel::PumpStop, SimulatedServer::kMsgMethodEnded,
                   "Method ended");
  }
  STDMETHODIMP AcknowledgeStepData() override { return Run("Session.AcknowledgeStepData", "", [](ServerCall&) {}); }

  // IConnectionPointContainer; the session is its own connection point.
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    if (riid != DIID__ITavixSession2Events) return CONNECT_E_NOCONNECTION;
    return QueryInterface(IID_IConnectionPoint, reinterpret_cast<void**>(pp));
  }
  // The plug-in never enumerates; the server hands out no enumerators.
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** pp) override {
    if (pp) *pp = nullptr;
    return E_NOTIMPL;
  }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = DIID__ITavixSession2Events;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** pp) override {
    if (!pp) return E_POINTER;
    return QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(pp));
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    ServerCall call("Session.Advise", "");
    if (FAILED(call.hr)) return call.hr;
    call.lock.unlock();  // the sink is the plug-in's
    IDispatch* dispatch = nullptr;
    const HRESULT qi = sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    call.lock.lock();
    if (FAILED(qi) || !dispatch) return CONNECT_E_CANNOTCONNECT;
    *cookie = call.s.nextCookie++;
    m_pData->advises.push_back({*cookie, dispatch});
    return call.hr;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    ServerCall call("Session.Unadvise", std::to_string(cookie));
    if (FAILED(call.hr)) return call.hr;
    call.WaitIdle();  // no event is inside the sink while it goes
    auto& advises = m_pData->advises;
    const auto it = std::find_if(advises.begin(), advises.end(), [&](const auto& a) { return a.cookie == cookie; });
    if (it == advises.end()) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = it->sink;
    advises.erase(it);
    call.lock.unlock();
    sink->Release();
    return call.hr;
  }
  STDMETHODIMP EnumConnections(IEnumConnections** pp) override {
    if (pp) *pp = nullptr;
    return E_NOTIMPL;
  }

 private:
  // Run control: with `load`, the method's items become the instruments'
  // program; then `act` on the instruments and the message `code`.
  static HRESULT Control(const char* op, bool load, void (InstrumentModel::*act)(), LONG code = 0,
                         const char* text = nullptr) {
    return Run(op, "", [&](ServerCall& call) {
      if (load) call.model.LoadProgram(call.ProgramOfMethod());
      if (act) (call.model.*act)();
      if (text) call.Message(code, text);
    });
  }

  std::shared_ptr<Data> m_pData;
};

class Server final : public SimObject<ITavixServer> {
 public:
  STDMETHODIMP CreateSession(LONG flags, ITavixSession2** pp) override {
    return Make("Server.CreateSession", std::to_string(flags), pp, [&](ServerCall& call) {
      call.s.openedAtMs = call.Now();
      for (const KnownUnit& unit : kKnownUnits) {
        if (unit.type == unitTypeNetBox) continue;
        const UnitConfig* config = call.Unit(unit.type, unit.number);
        call.model.SetUnitPresent(ModelAddress(unit.type, unit.number),
                                  config && !config->absent && config->presentAfterMs >= 0);
      }
      *pp = new Session(call);
    });
  }
};

}  // namespace

HRESULT CreateServer(REFIID riid, void** ppv) {
  const HRESULT hr = Run("CoCreateInstance", "", [](ServerCall&) {});
  if (FAILED(hr)) return hr;
  auto* server = new Server();
  const HRESULT qi = server->QueryInterface(riid, ppv);
  server->Release();
  return FAILED(qi) ? qi : hr;
}

}  // namespace sim
