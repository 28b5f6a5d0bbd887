#include "sim/simulated_network.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/vexlink/download_records.h"
#include "platform/vexlink/le_record.h"
#include "platform/vexlink/reply_formats.h"
#include "platform/vexlink/vexlink.h"
#include "platform/win/threads.h"

namespace sim {

namespace {

// The reply header the network puts in bytes 0-15 of every record.
struct Header {
  using Kind = le::Field<std::uint32_t, 0>;
  using Unit = le::Field<std::uint16_t, 4>;
  using Sequence = le::Field<std::uint32_t, 8>;
  using TimeMs = le::Field<std::uint32_t, 12>;
};

using StoredRecord = le::Record<SimulatedNetwork::kStoredReplySize>;

// A receiver's hold on the reply it was last given: released when it
// comes back for the next one.
thread_local bool t_holdsReply = false;
thread_local std::uint64_t t_holdGeneration = 0;
thread_local bool t_isReceiver = false;

std::int16_t Word16(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0)) return -32768;  // NaN too
  if (rounded > 32767.0) return 32767;
  return static_cast<std::int16_t>(rounded);
}

std::int16_t Hundredths(double percent) { return Word16(percent * 100.0); }

// The node status's event word: bit i set while output i + 1 is on.
std::uint32_t OutputWord(const NodeReading& node) {
  std::uint32_t word = 0;
  for (int i = 0; i < kOutputCount; ++i) word |= node.outputOn[i] ? 1u << i : 0u;
  return word;
}

// The node status's valve word: bits 4i to 4i + 3 hold the position of
// valve i + 1 (0 while it was never driven).
std::uint32_t ValveWord(const NodeReading& node) {
  std::uint32_t word = 0;
  for (int i = 0; i < kValveCount; ++i) word |= static_cast<std::uint32_t>(node.valvePosition[i] & 0xF) << (4 * i);
  return word;
}

std::string Hex4(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFFu);
  return text;
}

std::vector<std::uint8_t> CopyOf(const void* bytes, std::size_t size) {
  if (!bytes) return {};
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  return std::vector<std::uint8_t>(p, p + size);
}

template <class F>
void PutText(StoredRecord& record, const char* text) {
  constexpr std::size_t kWidth = F::kEnd - F::kOffset;
  const std::size_t n = std::min(std::strlen(text), kWidth - 1);
  std::memcpy(record.Data() + F::kOffset, text, n);
}

template <class S>
void PutSampleInfo(StoredRecord& r, const NodeReading& node) {
  const bool vial = node.vial >= 0;
  r.Set<typename S::AnlsSerial>(node.anlsSerial);
  r.Set<typename S::UserProgram>(1);
  r.Set<typename S::NumberOfFlush>(static_cast<std::int16_t>(node.flushCount));
  r.Set<typename S::InjectVolume>(static_cast<std::uint32_t>(node.injectVolumeNl));
  r.Set<typename S::DelayTime>(0);
  r.Set<typename S::AnlsTime>(static_cast<std::uint16_t>(std::clamp(node.runTimeS, 0, 0xFFFF)));
  r.Set<typename S::FirstSampleNo>(static_cast<std::int16_t>(vial ? node.vial : 0));
  r.Set<typename S::LastSampleNo>(static_cast<std::int16_t>(vial ? node.vial : 0));
  r.Set<typename S::NumberOfInject>(static_cast<std::int16_t>(vial ? 1 : 0));
  r.Set<typename S::CurrentSampleNo>(static_cast<std::int16_t>(vial ? node.vial : 0));
  r.Set<typename S::CurrentInjectNo>(static_cast<std::int16_t>(vial ? 1 : 0));
}

// What a pushed analysis file and run header mean to the units.
std::optional<Program> ReadProgram(const std::uint8_t* headerBytes, const std::uint8_t* fileBytes) {
  const le::View<LC_ANLS_FILE_SIZE> file(fileBytes);
  if (file.Get<AnlsFile::Signature>() != AnlsFile::kSignature) return std::nullopt;
  Program program;
  program.systemCode = file.Get<AnlsFile::SystemCode>();

  const auto initialCount = std::clamp<int>(file.Get<AnlsFile::InitialCount>(), 0, AnlsFile::InitialLines::kCount);
  for (int i = 0; i < initialCount; ++i) {
    const auto line = file.Row<AnlsFile::InitialLines>(static_cast<std::size_t>(i));
    const std::uint16_t unit = line.Get<AnlsLine::Unit>();
    const std::int32_t p0 = line.Get<AnlsLine::P0>();
    if (unit >= kUnitPump1 && unit < kUnitPump1 + kPumpCount) {
      Program::PumpStart& pump = program.pumps[unit - kUnitPump1];
      switch (line.Get<AnlsLine::Code>()) {
        case AnlsLine::kFlow: pump.flowUlMin = p0; break;
        case AnlsLine::kComposition:
          pump.composition = Composition{static_cast<double>(p0), static_cast<double>(line.Get<AnlsLine::P1>()),
                                         static_cast<double>(line.Get<AnlsLine::P2>())};
          break;
        case AnlsLine::kUpperPressure: pump.upperLimitBar = p0; break;
        case AnlsLine::kLowerPressure: pump.lowerLimitBar = p0; break;
        default: break;
      }
    } else if (unit == kUnitOven && line.Get<AnlsLine::Code>() == AnlsLine::kOvenTemperature) {
      program.ovenTemperatureC = p0;
    } else if (unit == kUnitUV && line.Get<AnlsLine::Code>() == AnlsLine::kUvWavelength) {
      program.uvWavelengthTenthsNm = p0;
    } else if (unit == kUnitUV && line.Get<AnlsLine::Code>() == AnlsLine::kUvResponse) {
      program.uvResponse = p0;
    }
  }

  const auto stepCount = std::clamp<int>(file.Get<AnlsFile::TimetableCount>(), 0, AnlsFile::TimetableLines::kCount);
  for (int i = 0; i < stepCount; ++i) {
    const auto line = file.Row<AnlsFile::TimetableLines>(static_cast<std::size_t>(i));
    TimetableStep step;
    step.timeMs = std::max<std::int32_t>(0, line.Get<AnlsLine::TimeMs>());
    step.unit = line.Get<AnlsLine::Unit>();
    const std::int32_t p0 = line.Get<AnlsLine::P0>();
    switch (line.Get<AnlsLine::Code>()) {
      case AnlsLine::kFlow: step.flowUlMin = p0; break;
      case AnlsLine::kComposition:
        step.composition = Composition{static_cast<double>(p0), static_cast<double>(line.Get<AnlsLine::P1>()),
                                       static_cast<double>(line.Get<AnlsLine::P2>())};
        break;
      case AnlsLine::kUpperPressure: step.upperLimitBar = p0; break;
      default: continue;
    }
    program.timetable.push_back(step);
  }
  std::stable_sort(program.timetable.begin(), program.timetable.end(),
                   [](const TimetableStep& a, const TimetableStep& b) { return a.timeMs < b.timeMs; });

  const le::View<LC_RUN_HEADER_SIZE> header(headerBytes);
  program.runTimeS = header.Get<RunHeader::RunTimeS>();
  if (header.Get<RunHeader::FirstVial>() != RunHeader::kNoVial) program.vial = header.Get<RunHeader::FirstVial>();
  program.flushCount = header.Get<RunHeader::FlushCount>();
  program.injectVolumeNl = header.Get<RunHeader::InjectVolumeNl>();
  return program;
}

}  // namespace

SimulatedNetwork& SimulatedNetwork::Get() {
  // Never destroyed: a receiving thread may wait in it until the process ends.
  static SimulatedNetwork* const network = new SimulatedNetwork();
  return *network;
}

SimulatedNetwork::SimulatedNetwork() {
  platform::Clock::Get().AddDriver(this);
  StartThread();
}

// ---- Time ----

bool SimulatedNetwork::ReceiverExpectedLocked() const {
  return m_state.openNode != 0 && m_state.connected && !m_state.logOnly && !m_state.releaseReceivers;
}

std::int64_t SimulatedNetwork::OwnDueLocked() const {
  return m_state.connected && m_state.nextTimerMs >= 0 ? m_state.nextTimerMs : kNothingDue;
}

void SimulatedNetwork::ProduceOwnLocked() {
  if (!m_state.connected || m_state.nextTimerMs < 0 || m_state.nextTimerMs > m_nowMs) return;
  ProduceLocked(EventReplyLocked(0, static_cast<std::uint32_t>(NetworkEvent::TIMER_TIMEOUT)));
  m_state.nextTimerMs = m_state.timerPeriodMs > 0 ? m_state.nextTimerMs + m_state.timerPeriodMs : -1;
}

bool SimulatedNetwork::IdleLocked() const {
  return !ReceiverExpectedLocked() || (m_state.ready.empty() && m_state.inFlight == 0);
}

void SimulatedNetwork::WakeOtherSideLocked(Lock& lock) {
  if (m_state.ready.empty()) return;
  // Woken without the lock held, a receiver does not wake only to wait
  // for it: two thread switches fewer per reply time.
  lock.unlock();
  m_replyCv.notify_all();
  lock.lock();
}

std::string SimulatedNetwork::StallTextLocked() const {
  return "simulated network: " + std::to_string(m_state.ready.size()) + " replies for node " +
         std::to_string(m_state.openNode) + " waited 30 s for a receiver; is a thread receiving with LC_XRecvFrom?";
}

// ---- Producing replies ----

SimReply SimulatedNetwork::ReplyLocked(int kind, std::uint16_t unit, std::vector<std::uint8_t> bytes) const {
  SimReply reply;
  reply.kind = kind;
  reply.sender = (static_cast<DWORD>(kNetworkNumber) << 16) | unit;
  reply.bytes = bytes.empty() ? std::vector<std::uint8_t>(kStoredReplySize) : std::move(bytes);
  return reply;
}

void SimulatedNetwork::ScheduleReplyLocked(SimReply reply) {
  ScheduleLocked(NowLocked() + kReplyLatencyMs, [this, reply] { ProduceLocked(reply); });
}

void SimulatedNetwork::ProduceLocked(SimReply reply, bool stampHeader) {
  State& s = m_state;
  if (s.openNode == 0 || !s.connected) return;  // nobody hears a node that is not connected
  reply.atMs = m_nowMs;
  reply.node = s.openNode;
  if (stampHeader && reply.bytes.size() >= 16) {
    le::Store<std::uint32_t>(reply.bytes.data() + Header::Kind::kOffset, static_cast<std::uint32_t>(reply.kind));
    le::Store<std::uint16_t>(reply.bytes.data() + Header::Unit::kOffset, static_cast<std::uint16_t>(reply.sender));
    le::Store<std::uint32_t>(reply.bytes.data() + Header::Sequence::kOffset,
                             static_cast<std::uint32_t>(s.repliesDropped + s.replies.size()));
    le::Store<std::uint32_t>(reply.bytes.data() + Header::TimeMs::kOffset, static_cast<std::uint32_t>(m_nowMs));
  }
  if (!s.keepLogs) {
    // Only replies still waiting for a receiver are needed.
    const std::size_t firstNeeded = s.ready.empty() ? s.repliesDropped + s.replies.size() : s.ready.front();
    while (!s.replies.empty() && s.repliesDropped < firstNeeded) {
      s.replies.pop_front();
      ++s.repliesDropped;
    }
  }
  s.replies.push_back(std::move(reply));
  if (ReceiverExpectedLocked()) {
    s.ready.push_back(s.repliesDropped + s.replies.size() - 1);
    // A virtual sleep wakes the receivers once, when it waits for them.
    if (!InAdvanceLocked()) m_replyCv.notify_all();
  }
}

SimReply SimulatedNetwork::EventReplyLocked(std::uint16_t unit, std::uint32_t code) const {
  StoredRecord record;
  record.Set<reply::Event::Code>(code);
  return ReplyLocked(kReplyEvent, unit, {record.Data(), record.Data() + kStoredReplySize});
}

void SimulatedNetwork::EmitNoticeLocked(const Notice& notice) {
  const std::uint16_t unit = notice.unit;
  switch (notice.kind) {
    case Notice::Kind::kSamplerReady:
      ProduceLocked(EventReplyLocked(unit, MakeUnitEvent(unit, UnitEvent::TEST_UNIT_READY)));
      break;
    case Notice::Kind::kUpperPressure:
      ProduceLocked(EventReplyLocked(unit, kEventTrouble | (std::uint32_t{unit} << 16) | kTroubleUpperPressure));
      break;
    case Notice::Kind::kLowerPressure:
      ProduceLocked(EventReplyLocked(unit, kEventTrouble | (std::uint32_t{unit} << 16) | kTroubleLowerPressure));
      break;
    case Notice::Kind::kInjected: {
      ProduceLocked(EventReplyLocked(unit, MakeUnitEvent(unit, UnitEvent::INJECT)));
      StoredRecord record;
      PutSampleInfo<reply::InjectedInfo>(record, m_model.ReadNode());
      ProduceLocked(ReplyLocked(kReplyInjectedInfo, unit, {record.Data(), record.Data() + kStoredReplySize}));
      break;
    }
    case Notice::Kind::kRunEnded:
      ProduceLocked(EventReplyLocked(unit, MakeUnitEvent(unit, UnitEvent::ANLSTIME_END)));
      break;
    case Notice::Kind::kSequenceDone:
      ProduceLocked(EventReplyLocked(unit, MakeUnitEvent(unit, UnitEvent::ANLSSEQ_DONE)));
      break;
    case Notice::Kind::kOutputSwitched:
      ProduceLocked(EventReplyLocked(0, static_cast<std::uint32_t>(NetworkEvent::EVENT)));
      break;
    case Notice::Kind::kValveTurned:
      ProduceLocked(EventReplyLocked(0, static_cast<std::uint32_t>(NetworkEvent::VALVE)));
      break;
  }
}

SimReply SimulatedNetwork::StatusReplyLocked(std::uint16_t unit) const {
  StoredRecord r;
  const NodeReading node = m_model.ReadNode();
  if (unit == 0) {
    using N = reply::NodeStatus;
    r.Set<N::Status>(node.state);
    r.Set<N::ElapsedAnlsTime>(node.elapsedMs);
    PutSampleInfo<N::Sample>(r, node);
    r.Set<N::SysfileSerial>(m_state.pushes);
    r.Set<N::Comp<0>>(Hundredths(node.composition.a));
    r.Set<N::Comp<1>>(Hundredths(node.composition.b));
    r.Set<N::Comp<2>>(Hundredths(node.composition.c));
    r.Set<N::ActuallPress>(Word16(node.pressureBar));
    r.Set<N::ActuallFlow>(Word16(node.flowUlMin));
    r.Set<N::SetFlow>(Word16(m_model.ReadPump(0).setFlowUlMin));
    r.Set<N::SetPress>(0);
    r.Set<N::SetPmax>(Word16(node.upperLimitBar));
    r.Set<N::SetPmin>(Word16(node.lowerLimitBar));
    r.Set<N::CurrentSysfileNo>(1);
    r.Set<N::Event>(OutputWord(node));
    r.Set<N::Valve>(ValveWord(node));
    r.Set<N::TotalTime>(static_cast<std::uint32_t>(std::max(0, node.runTimeS)) * 1000u);
  } else if ((unit & kUnitKindMask) == kKindPump) {
    using P = reply::PumpStatus;
    const PumpReading pump = m_model.ReadPump((unit & 0xFF) - 1);
    r.Set<P::Status>(pump.status);
    r.Set<P::ActualPress>(Word16(pump.pressureBar));
    r.Set<P::ActualFlow>(Word16(pump.flowUlMin));
    r.Set<P::Comp<0>>(Hundredths(pump.composition.a));
    r.Set<P::Comp<1>>(Hundredths(pump.composition.b));
    r.Set<P::Comp<2>>(Hundredths(pump.composition.c));
    r.Set<P::SetFlow>(Word16(pump.setFlowUlMin));
    r.Set<P::SetPress>(0);
    r.Set<P::SetPmax>(Word16(pump.upperLimitBar));
    r.Set<P::SetPmin>(Word16(pump.lowerLimitBar));
  } else if (unit == kUnitAutosampler) {
    using A = reply::AutosamplerStatus;
    const SamplerReading sampler = m_model.ReadSampler();
    r.Set<A::Status>(sampler.status);
    r.Set<A::SampleNumber>(static_cast<std::int16_t>(std::max(sampler.vial, 0)));
    r.Set<A::NumberOfInject>(static_cast<std::int16_t>(sampler.injections));
    PutSampleInfo<A::Sample>(r, node);
    r.Set<A::IAmLastSample>(sampler.lastSample ? 1 : 0);
  } else if (unit == kUnitOven) {
    using O = reply::OvenStatus;
    const OvenReading oven = m_model.ReadOven();
    r.Set<O::Status>(oven.status);
    r.Set<O::Temp>(Word16(oven.temperatureC));
    r.Set<O::SetTemp>(Word16(oven.setPointC));
  } else if (unit == kUnitUV) {
    using U = reply::UVStatus;
    const UvReading uv = m_model.ReadUv();
    r.Set<U::Status>(uv.status);
    r.Set<U::Nwl>(1);
    r.Set<U::Range>(1);
    r.Set<U::Response>(static_cast<std::int16_t>(uv.response));
    r.Set<U::Wavelength>(static_cast<std::uint32_t>(uv.wavelengthTenthsNm));
    r.Set<U::Absorbance>(0);
    r.Set<U::SigSample>(uv.lampOn ? 1000000u : 0u);
    r.Set<U::SigReference>(uv.lampOn ? 1000000u : 0u);
  }
  return ReplyLocked(kReplyStatus, unit, {r.Data(), r.Data() + kStoredReplySize});
}

std::vector<std::uint8_t> SimulatedNetwork::IdentificationLocked(std::uint16_t unit) const {
  using I = reply::Identification;
  StoredRecord r;
  const char* model = "QN-900 NODE";
  switch (unit & kUnitKindMask) {
    case kKindPump: model = "QN-910 PUMP"; break;
    case kKindUV: model = "QN-940 UV"; break;
    case kKindAutosampler: model = "QN-950 AS"; break;
    case kKindOven: model = "QN-960 CO"; break;
    default: break;
  }
  char serial[20];
  std::snprintf(serial, sizeof serial, "SIM-%04X", unit);
  PutText<I::Vender>(r, "QUARN");
  PutText<I::ModelName>(r, model);
  PutText<I::ModelVersion>(r, "SIM 1.0");
  PutText<I::ModelSerial>(r, serial);
  PutText<I::ModelSccs>(r, "sim");
  return {r.Data(), r.Data() + kStoredReplySize};
}

std::vector<std::uint8_t> SimulatedNetwork::UnitListLocked() const {
  static constexpr std::uint16_t kUnits[] = {kUnitPump1, kUnitPump2, kUnitPump3, kUnitUV, kUnitAutosampler, kUnitOven};
  StoredRecord r;
  std::uint16_t n = 0;
  for (std::uint16_t unit : kUnits) {
    if (!m_model.IsPresent(unit)) continue;
    r.Row<reply::UnitList::Units>(n++).Set<reply::UnitList::Unit>(unit);
  }
  r.Set<reply::UnitList::Count>(n);
  return {r.Data(), r.Data() + kStoredReplySize};
}

// ---- The driver library's functions ----

DriverCall& SimulatedNetwork::LogLocked(const char* name, int node, std::string arguments) {
  DriverCall call;
  call.name = name;
  call.text = std::string(name) + "(" + arguments + ")";
  call.node = node;
  call.atMs = NowLocked();
  call.fromReceiver = t_isReceiver;
  if (!m_state.keepLogs) {
    m_state.lastCall = std::move(call);
    return m_state.lastCall;
  }
  m_state.calls.push_back(std::move(call));
  return m_state.calls.back();
}

template <class Act>
int SimulatedNetwork::Command(const char* name, int node, std::string arguments, int ackKind, Act act) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  LogLocked(name, node, std::move(arguments));
  if (!IsOpenLocked(node)) return -1;
  act();
  if (ackKind) ScheduleReplyLocked(ReplyLocked(ackKind, 0));
  return 0;
}

int SimulatedNetwork::NodeOpen(const char* devicePath, int mode) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  const std::string path = devicePath ? devicePath : "(null)";
  DriverCall& call = LogLocked("LC_NodeOpen", -1, "\"" + path + "\", " + std::to_string(mode));
  State& s = m_state;
  if (s.driverMissing || s.openNode != 0 || !devicePath || path != "\\\\.\\Vexlink2") return -1;
  s.openNode = s.nextHandle++;
  call.node = s.openNode;
  s.connected = false;
  m_nowMs = NowLocked();
  m_replyCv.notify_all();  // receivers waiting for a node read their handle again
  return s.openNode;
}

void SimulatedNetwork::DisconnectLocked() {
  m_state.connected = false;
  m_state.nextTimerMs = -1;
  m_scheduled.clear();
  m_state.ready.clear();
  m_idleCv.notify_all();
}

int SimulatedNetwork::NodeClose(int node) {
  return Command("LC_NodeClose", node, "", 0, [this] {
    m_state.openNode = 0;
    DisconnectLocked();
  });
}

int SimulatedNetwork::HardReset(int node) {
  return Command("LC_HardReset", node, "", 0, [this] {
    DisconnectLocked();
    m_model.PowerUp(m_nowMs);
  });
}

int SimulatedNetwork::NodeConnect(int node, int mode) {
  return Command("LC_NodeConnect", node, std::to_string(mode), kReplyConnect, [this] {
    m_state.connected = true;
    m_state.nextTimerMs = m_state.timerPeriodMs > 0 ? m_nowMs + m_state.timerPeriodMs : -1;
  });
}

int SimulatedNetwork::UnitConfig(int node, WORD unit, int present) {
  return Command("LC_UnitConfig", node, Hex4(unit) + ", " + std::to_string(present), 0, [&] {
    const std::vector<std::uint16_t>& absent = m_state.absentUnits;
    m_model.SetUnitPresent(unit, present != 0 && std::find(absent.begin(), absent.end(), unit) == absent.end());
  });
}

int SimulatedNetwork::Inquiry(int node, WORD unit) {
  return Command("LC_Inquiry", node, Hex4(unit), 0, [&] {
    if (!m_model.IsPresent(unit) || (unit == kUnitAutosampler && m_model.SamplerSilent())) return;
    ScheduleReplyLocked(ReplyLocked(kReplyInquiry, unit, IdentificationLocked(unit)));
    if (unit == kUnitNode) ScheduleReplyLocked(ReplyLocked(kReplyConfig, 0, UnitListLocked()));
  });
}

int SimulatedNetwork::ActivateKernelThread(int node) {
  return Command("LC_ActivateKernelThread", node, "", kReplyServerActivate, [] {});
}

int SimulatedNetwork::DeactivateKernelThread(int node) {
  return Command("LC_DeactivateKernelThread", node, "", kReplyServerDeactivate, [] {});
}

int SimulatedNetwork::PushAnlsFile(int node, const void* runHeader, const void* anlsFile,
                                   const void* transferControl) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  DriverCall& call = LogLocked("LC_PushAnlsFile", node, "run header, analysis file, transfer control");
  call.records = {CopyOf(runHeader, LC_RUN_HEADER_SIZE), CopyOf(anlsFile, LC_ANLS_FILE_SIZE),
                  CopyOf(transferControl, LC_TRANSFER_CONTROL_SIZE)};
  if (!IsOpenLocked(node) || !runHeader || !anlsFile || !transferControl) return -1;
  const std::optional<Program> program = ReadProgram(call.records[0].data(), call.records[1].data());
  if (!program) return -1;  // not an analysis file: the units keep their program
  m_model.LoadProgram(*program);
  ++m_state.pushes;
  ScheduleReplyLocked(ReplyLocked(kReplyAnlsFile, 0));
  return 0;
}

int SimulatedNetwork::UnitStatus(int node, WORD unit) {
  return Command("LC_UnitStatus", node, Hex4(unit), 0, [&] {
    if (!m_model.IsPresent(unit) || (unit == kUnitAutosampler && m_model.SamplerSilent())) return;
    ScheduleLocked(NowLocked() + kReplyLatencyMs, [this, unit] { ProduceLocked(StatusReplyLocked(unit)); });
  });
}

int SimulatedNetwork::UnitDirect(int node, WORD unit, const void* command) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  std::string words = Hex4(unit);
  const le::View<LC_DIRECT_COMMAND_SIZE> view(command);
  for (int i = 0; command && i < 8; ++i) words += ' ' + Hex4(le::Load<std::uint16_t>(view.Data() + 2 * i));
  DriverCall& call = LogLocked("LC_UnitDirect", node, words);
  call.records = {CopyOf(command, LC_DIRECT_COMMAND_SIZE)};
  if (!IsOpenLocked(node) || !command) return -1;
  ApplyDirectLocked(unit, call.records[0].data());
  ScheduleReplyLocked(ReplyLocked(kReplyDirect, unit));
  return 0;
}

void SimulatedNetwork::ApplyDirectLocked(WORD unit, const std::uint8_t* command) {
  const le::View<LC_DIRECT_COMMAND_SIZE> c(command);
  auto word = [&](int i) { return le::Load<std::uint16_t>(c.Data() + 2 * i); };
  auto unlessUnchanged = [&](int i) -> std::optional<int> {
    return word(i) == DirectCommand::kUnchanged ? std::nullopt : std::optional<int>(word(i));
  };
  if (!m_model.IsPresent(unit)) return;
  switch (unit & kUnitKindMask) {
    case kKindPump: {
      const std::uint16_t system = word(0);
      if (system == kSystemQuaternary || system == kSystemBinary || system == kSystemTernary) {
        m_model.SetSystemCode(system);
      }
      std::optional<Composition> composition;
      // Three words that do not add up to 100 are no composition (what a
      // sender leaves in them from an earlier command).
      if (word(5) + word(6) + word(7) == 100) composition = Composition{1.0 * word(5), 1.0 * word(6), 1.0 * word(7)};
      std::optional<double> flow;
      if (const auto w1 = unlessUnchanged(1)) flow = *w1;
      m_model.SetPump((unit & 0xFF) - 1, flow, unlessUnchanged(3), unlessUnchanged(4), composition);
      break;
    }
    case kKindOven:
      if (word(0) == DirectCommand::kOvenOn) m_model.SetOven(true, static_cast<std::int16_t>(word(1)));
      if (word(0) == DirectCommand::kOvenOff) m_model.SetOven(false, 0);
      break;
    case kKindUV: {
      std::optional<bool> lamp;
      if (word(3) == DirectCommand::kLampOn) lamp = true;
      if (word(3) == DirectCommand::kLampOff) lamp = false;
      m_model.SetUv(unlessUnchanged(0), unlessUnchanged(1), lamp);
      break;
    }
    default:
      break;
  }
}

int SimulatedNetwork::PumpStart(int node) {
  return Command("LC_PumpStart", node, "", kReplyPumpStart, [this] { m_model.PumpStart(); });
}

int SimulatedNetwork::PumpStop(int node) {
  return Command("LC_PumpStop", node, "", kReplyPumpStop, [this] { m_model.PumpStop(); });
}

int SimulatedNetwork::Stop(int node) {
  return Command("LC_Stop", node, "", kReplyStop, [this] { m_model.StopRun(); });
}

int SimulatedNetwork::Reset(int node) {
  return Command("LC_Reset", node, "", kReplyReset, [this] { m_model.ResetNode(); });
}

int SimulatedNetwork::ResetRun(int node) {
  return Command("LC_ResetRun", node, "", kReplyResetRun, [this] { m_model.StartRun(); });
}

int SimulatedNetwork::TroubleClear(int node) {
  return Command("LC_TroubleClear", node, "", 0, [this] {
    m_model.ClearTrouble();
    ScheduleReplyLocked(EventReplyLocked(0, static_cast<std::uint32_t>(NetworkEvent::TROUBLE_CLEAR)));
  });
}

int SimulatedNetwork::XRecvFrom(int node, void* buffer, DWORD* sender) {
  Lock lock(m_mutex);
  State& s = m_state;
  if (t_holdsReply) {
    t_holdsReply = false;
    if (t_holdGeneration == m_nGeneration && s.inFlight > 0) --s.inFlight;
    lock.unlock();
    m_idleCv.notify_all();
    lock.lock();
  }
  t_isReceiver = true;
  for (;;) {
    if (s.releaseReceivers) return 0;
    if (IsOpenLocked(node)) {
      if (!s.ready.empty()) break;
    } else if (s.openNode != 0) {
      return 0;  // an old handle: the caller reads its handle again
    }
    m_replyCv.wait(lock);
  }
  SimReply& reply = s.replies[s.ready.front() - s.repliesDropped];
  s.ready.pop_front();
  reply.receivedBy = GetCurrentThreadId();
  ++s.inFlight;
  t_holdsReply = true;
  t_holdGeneration = m_nGeneration;
  if (buffer) {
    const std::size_t n = std::min<std::size_t>(reply.bytes.size(), LC_REPLY_BUFFER_SIZE);
    std::memcpy(buffer, reply.bytes.data(), n);
    std::memset(static_cast<std::uint8_t*>(buffer) + n, 0, LC_REPLY_BUFFER_SIZE - n);
  }
  if (sender) *sender = reply.sender;
  return reply.kind;
}

// ---- Test face ----

void SimulatedNetwork::ResetForTesting() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    DisconnectLocked();
    ResetLocked();
    m_state = State{};
    ++m_nGeneration;
    m_replyCv.notify_all();
  }
  platform::Clock::Get().AddDriver(this);
}

std::vector<DriverCall> SimulatedNetwork::Calls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_state.calls;
}

std::vector<std::string> SimulatedNetwork::CallTexts(bool hostOnly) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> texts;
  for (const DriverCall& call : m_state.calls) {
    if (!(hostOnly && call.fromReceiver)) texts.push_back(call.text);
  }
  return texts;
}

std::vector<SimReply> SimulatedNetwork::Replies() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return {m_state.replies.begin(), m_state.replies.end()};
}

int SimulatedNetwork::OpenNode() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_state.openNode;
}

// The switches: each sets its value under the lock.
void SimulatedNetwork::SetKeepLogs(bool keep) { Switch([&] { m_state.keepLogs = keep; }); }

void SimulatedNetwork::SetDriverMissingForTesting(bool missing) { Switch([&] { m_state.driverMissing = missing; }); }

void SimulatedNetwork::SetUnitAbsentForTesting(std::uint16_t unit, bool absent) {
  Switch([&] {
    std::erase(m_state.absentUnits, unit);
    if (absent) m_state.absentUnits.push_back(unit);
  });
}

void SimulatedNetwork::SetAutosamplerSilentForTesting(bool silent) {
  Switch([&] { m_model.SetSamplerSilent(silent); });
}

void SimulatedNetwork::SetNodeStateForTesting(std::uint32_t state) { Switch([&] { m_model.ForceNodeState(state); }); }

void SimulatedNetwork::SetTimerPeriodForTesting(std::int64_t periodMs) {
  Switch([&] {
    m_state.timerPeriodMs = std::max<std::int64_t>(0, periodMs);
    if (m_state.connected) m_state.nextTimerMs = m_state.timerPeriodMs > 0 ? NowLocked() + m_state.timerPeriodMs : -1;
  });
}

void SimulatedNetwork::SetLogOnlyForTesting(bool logOnly) { Switch([&] { m_state.logOnly = logOnly; }); }

void SimulatedNetwork::ReleaseReceiversForTesting() {
  Switch([&] {
    m_state.releaseReceivers = true;
    m_replyCv.notify_all();
    m_idleCv.notify_all();
  });
}

void SimulatedNetwork::DeliverReplyForTesting(int kind, DWORD sender, const void* bytes, std::size_t size) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  SimReply reply;
  reply.kind = kind;
  reply.sender = sender;
  reply.bytes = CopyOf(bytes, std::min<std::size_t>(size, LC_REPLY_BUFFER_SIZE));
  ProduceLocked(std::move(reply), false);
  WaitIdleLocked(lock);
}

void SimulatedNetwork::SendEventForTesting(std::uint16_t unit, std::uint32_t code) {
  const SimReply event = [&] {
    std::lock_guard<std::mutex> lock(m_mutex);
    return EventReplyLocked(unit, code);
  }();
  DeliverReplyForTesting(event.kind, event.sender, event.bytes.data(), event.bytes.size());
}

void SimulatedNetwork::SendTroubleForTesting(std::uint16_t unit, std::uint16_t what) {
  SendEventForTesting(unit, kEventTrouble | (std::uint32_t{unit} << 16) | what);
}

void SimulatedNetwork::SendWarningForTesting(std::uint16_t unit, std::uint16_t what) {
  SendEventForTesting(unit, kEventWarning | (std::uint32_t{unit} << 16) | what);
}

void SimulatedNetwork::LoadOutputProgramForTesting(const OutputProgram& program) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  m_model.LoadOutputProgram(program);
}

}  // namespace sim
