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

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

// ---- Hand-over ----

bool SimulatedNetwork::SpinGate::SpinWhileUnchanged(const std::atomic<std::uint32_t>& signal, std::uint32_t seen) {
  if (const std::uint32_t skip = m_skip.load(std::memory_order_relaxed); skip > 0) {
    m_skip.store(skip - 1, std::memory_order_relaxed);
    return false;
  }
  for (unsigned i = 0; i < kSpinRounds; ++i) {
    if (signal.load(std::memory_order_acquire) != seen) {
      m_penalty.store(0, std::memory_order_relaxed);
      return true;
    }
    CpuRelax();
  }
  // The other side is slow (a busy machine, other work): spin less often.
  const std::uint32_t penalty = std::min(2 * m_penalty.load(std::memory_order_relaxed) + 1, kMaxSkip);
  m_penalty.store(penalty, std::memory_order_relaxed);
  m_skip.store(penalty, std::memory_order_relaxed);
  return false;
}

namespace {

std::int16_t Word16(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0)) return -32768;  // NaN too
  if (rounded > 32767.0) return 32767;
  return static_cast<std::int16_t>(rounded);
}

std::int16_t Hundredths(double percent) { return Word16(percent * 100.0); }

// "0x%04x" of the low 16 bits, without a format parsed at every call: a
// poll logs several.
std::string Hex4(unsigned value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text = "0x0000";
  for (std::size_t i = 5; i >= 2; --i, value >>= 4) text[i] = kDigits[value & 0xFu];
  return text;
}

std::vector<std::uint8_t> CopyOf(const void* bytes, std::size_t size) {
  if (!bytes) return {};
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  return std::vector<std::uint8_t>(p, p + size);
}

std::vector<std::uint8_t> BytesOf(const StoredRecord& record) {
  return {record.Data(), record.Data() + SimulatedNetwork::kStoredReplySize};
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
  r.Set<typename S::AnlsTime>(static_cast<std::uint16_t>(std::clamp(node.runTimeS, 0, 0xFFFF)));
  r.Set<typename S::FirstSampleNo>(static_cast<std::int16_t>(vial ? node.vial : 0));
  r.Set<typename S::LastSampleNo>(static_cast<std::int16_t>(vial ? node.vial : 0));
  r.Set<typename S::NumberOfInject>(static_cast<std::int16_t>(vial ? 1 : 0));
  r.Set<typename S::CurrentSampleNo>(static_cast<std::int16_t>(vial ? node.vial : 0));
  r.Set<typename S::CurrentInjectNo>(static_cast<std::int16_t>(vial ? 1 : 0));
}

// What a pump line of the analysis file sets; false for a code that is no
// pump's.
bool ReadPumpLine(const le::ConstRowRef<AnlsLine::kSize>& line, PumpSettings& set) {
  const std::int32_t p0 = line.Get<AnlsLine::P0>();
  switch (line.Get<AnlsLine::Code>()) {
    case AnlsLine::kFlow: set.flowUlMin = p0; return true;
    case AnlsLine::kComposition:
      set.composition = Composition{static_cast<double>(p0), static_cast<double>(line.Get<AnlsLine::P1>()),
                                    static_cast<double>(line.Get<AnlsLine::P2>())};
      return true;
    case AnlsLine::kUpperPressure: set.upperLimitBar = p0; return true;
    case AnlsLine::kLowerPressure: set.lowerLimitBar = p0; return true;
    default: return false;
  }
}

// What a pushed analysis file and run header mean to the units.
std::optional<Program> ReadProgram(const std::uint8_t* headerBytes, const std::uint8_t* fileBytes) {
  const le::View<LC_ANLS_FILE_SIZE> file(fileBytes);
  if (file.Get<AnlsFile::Signature>() != AnlsFile::kSignature) return std::nullopt;
  Program program;
  program.systemCode = file.Get<AnlsFile::SystemCode>();
  // The other units' initial lines: unit, code, what they set.
  const struct {
    std::uint16_t unit, code;
    std::optional<int> Program::*setting;
  } kUnitLines[] = {{kUnitOven, AnlsLine::kOvenTemperature, &Program::ovenTemperatureC},
                    {kUnitUV, AnlsLine::kUvWavelength, &Program::uvWavelengthTenthsNm},
                    {kUnitUV, AnlsLine::kUvResponse, &Program::uvResponse}};

  const int initialCount = std::min<int>(file.Get<AnlsFile::InitialCount>(), AnlsFile::InitialLines::kCount);
  for (int i = 0; i < initialCount; ++i) {
    const auto line = file.Row<AnlsFile::InitialLines>(static_cast<std::size_t>(i));
    const std::uint16_t unit = line.Get<AnlsLine::Unit>();
    if (unit >= kUnitPump1 && unit < kUnitPump1 + kPumpCount) {
      ReadPumpLine(line, program.pumps[unit - kUnitPump1]);
      continue;
    }
    for (const auto& [lineUnit, code, setting] : kUnitLines) {
      if (unit == lineUnit && line.Get<AnlsLine::Code>() == code) program.*setting = line.Get<AnlsLine::P0>();
    }
  }

  const int stepCount = std::min<int>(file.Get<AnlsFile::TimetableCount>(), AnlsFile::TimetableLines::kCount);
  for (int i = 0; i < stepCount; ++i) {
    const auto line = file.Row<AnlsFile::TimetableLines>(static_cast<std::size_t>(i));
    TimetableStep step{std::max<std::int32_t>(0, line.Get<AnlsLine::TimeMs>()), line.Get<AnlsLine::Unit>(), {}};
    if (ReadPumpLine(line, step.set)) program.timetable.push_back(step);
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

// A unit's answer to LC_Inquiry.
std::vector<std::uint8_t> Identification(std::uint16_t unit) {
  using I = reply::Identification;
  static constexpr std::pair<std::uint16_t, const char*> kModels[] = {
      {kKindPump, "QN-910 PUMP"}, {kKindUV, "QN-940 UV"}, {kKindAutosampler, "QN-950 AS"}, {kKindOven, "QN-960 CO"}};
  const char* model = "QN-900 NODE";
  for (const auto& [kind, name] : kModels) {
    if ((unit & kUnitKindMask) == kind) model = name;
  }
  char serial[20];
  std::snprintf(serial, sizeof serial, "SIM-%04X", unit);
  StoredRecord r;
  PutText<I::Vender>(r, "QUARN");
  PutText<I::ModelName>(r, model);
  PutText<I::ModelVersion>(r, "SIM 1.0");
  PutText<I::ModelSerial>(r, serial);
  PutText<I::ModelSccs>(r, "sim");
  return BytesOf(r);
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

void SimulatedNetwork::ProduceOwnLocked() {
  if (!m_state.connected || m_state.nextTimerMs < 0 || m_state.nextTimerMs > m_nowMs) return;
  ProduceLocked(EventReplyLocked(0, static_cast<std::uint32_t>(NetworkEvent::TIMER_TIMEOUT)));
  StartTimerLocked(m_state.nextTimerMs);
}

void SimulatedNetwork::WakeOtherSideLocked(Lock& lock) {
  if (m_state.ready.empty()) return;
  const std::uint32_t idleSeen = m_idleSignal.load(std::memory_order_relaxed);
  m_replySignal.fetch_add(1, std::memory_order_release);
  // Woken without the lock held, a receiver does not wake only to wait
  // for it: two thread switches fewer per reply time. A receiver that
  // spins needs no wake-up from the kernel, and nor does this thread when
  // the receiver handles every reply of this time while it spins.
  const bool waiting = m_receiversWaiting > 0;
  lock.unlock();
  if (waiting) m_replyCv.notify_all();
  m_sleeperGate.SpinWhileUnchanged(m_idleSignal, idleSeen);
  lock.lock();
}

// A receiver waiting takes the sleep along with the replies; a receiver
// making a call (a reply's reaction) takes it back.
bool SimulatedNetwork::CanHandOverLocked() const {
  return ReceiverExpectedLocked() && (m_receiversWaiting > 0 || t_isReceiver);
}

void SimulatedNetwork::HandOverLocked() {
  m_bSleepHandedOver = true;
  if (!t_isReceiver) WakeReceiversLocked();
}

void SimulatedNetwork::WakeReceiversLocked() {
  m_replySignal.fetch_add(1, std::memory_order_release);
  m_replyCv.notify_all();
}

void SimulatedNetwork::NotifyIdleLocked() {
  m_idleSignal.fetch_add(1, std::memory_order_release);
  m_idleCv.notify_all();
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
    le::RowRef<16> header(reply.bytes.data());
    header.Set<Header::Kind>(static_cast<std::uint32_t>(reply.kind));
    header.Set<Header::Unit>(static_cast<std::uint16_t>(reply.sender));
    header.Set<Header::Sequence>(static_cast<std::uint32_t>(s.repliesDropped + s.replies.size()));
    header.Set<Header::TimeMs>(static_cast<std::uint32_t>(m_nowMs));
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
    if (!InAdvanceLocked()) WakeReceiversLocked();
  }
}

SimReply SimulatedNetwork::EventReplyLocked(std::uint16_t unit, std::uint32_t code) const {
  StoredRecord record;
  record.Set<reply::Event::Code>(code);
  return ReplyLocked(kReplyEvent, unit, BytesOf(record));
}

void SimulatedNetwork::EmitNoticeLocked(const Notice& notice) {
  const std::uint16_t unit = notice.unit;
  const std::uint32_t trouble = kEventTrouble | (std::uint32_t{unit} << 16);
  std::uint32_t code = 0;
  switch (notice.kind) {
    case Notice::Kind::kSamplerReady: code = MakeUnitEvent(unit, UnitEvent::TEST_UNIT_READY); break;
    case Notice::Kind::kUpperPressure: code = trouble | kTroubleUpperPressure; break;
    case Notice::Kind::kLowerPressure: code = trouble | kTroubleLowerPressure; break;
    case Notice::Kind::kInjected: code = MakeUnitEvent(unit, UnitEvent::INJECT); break;
    case Notice::Kind::kRunEnded: code = MakeUnitEvent(unit, UnitEvent::ANLSTIME_END); break;
    case Notice::Kind::kSequenceDone: code = MakeUnitEvent(unit, UnitEvent::ANLSSEQ_DONE); break;
  }
  ProduceLocked(EventReplyLocked(unit, code));
  if (notice.kind != Notice::Kind::kInjected) return;
  StoredRecord record;  // the injection's record follows its event
  PutSampleInfo<reply::InjectedInfo>(record, m_model.ReadNode());
  ProduceLocked(ReplyLocked(kReplyInjectedInfo, unit, BytesOf(record)));
}

SimReply SimulatedNetwork::StatusReplyLocked(std::uint16_t unit) const {
  StoredRecord r;  // what is not set stays 0: set pressures, absorbance, delay time, outputs and valves
  const NodeReading node = m_model.ReadNode();
  if (unit == kUnitNode) {
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
    r.Set<N::SetPmax>(Word16(node.upperLimitBar));
    r.Set<N::SetPmin>(Word16(node.lowerLimitBar));
    r.Set<N::CurrentSysfileNo>(1);
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
    r.Set<U::SigSample>(uv.lampOn ? 1000000u : 0u);
    r.Set<U::SigReference>(uv.lampOn ? 1000000u : 0u);
  }
  return ReplyLocked(kReplyStatus, unit, BytesOf(r));
}

// ---- The driver library's functions ----

DriverCall& SimulatedNetwork::LogLocked(const char* name, int node, std::string arguments) {
  if (!m_state.keepLogs) {
    // Nothing is kept: only a place for the caller's copies of its records.
    m_state.lastCall.records.clear();
    return m_state.lastCall;
  }
  return m_state.calls.emplace_back(
      DriverCall{name, std::string(name) + "(" + arguments + ")", node, {}, NowLocked(), t_isReceiver});
}

template <class Act>
int SimulatedNetwork::Handle(const char* name, int node, std::string arguments, int ackKind, Act act) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  LogLocked(name, node, std::move(arguments));
  if (!IsOpenLocked(node)) return -1;
  act();
  if (ackKind) ScheduleReplyLocked(ReplyLocked(ackKind, 0));
  return 0;
}

int SimulatedNetwork::Command(NodeCommand command, int node) {
  struct Entry {
    const char* name;
    int ackKind;  // 0: none
    void (*act)(SimulatedNetwork& n);
  };
  static constexpr Entry kCommands[] = {  // by NodeCommand
      {"LC_NodeClose", 0, [](SimulatedNetwork& n) { n.m_state.openNode = 0; n.DisconnectLocked(); }},
      {"LC_HardReset", 0, [](SimulatedNetwork& n) { n.DisconnectLocked(); n.m_model.PowerUp(n.m_nowMs); }},
      {"LC_ActivateKernelThread", kReplyServerActivate, [](SimulatedNetwork&) {}},
      {"LC_DeactivateKernelThread", kReplyServerDeactivate, [](SimulatedNetwork&) {}},
      {"LC_PumpStart", kReplyPumpStart, [](SimulatedNetwork& n) { n.m_model.PumpStart(); }},
      {"LC_PumpStop", kReplyPumpStop, [](SimulatedNetwork& n) { n.m_model.PumpStop(); }},
      {"LC_Stop", kReplyStop, [](SimulatedNetwork& n) { n.m_model.StopRun(); }},
      {"LC_Reset", kReplyReset, [](SimulatedNetwork& n) { n.m_model.ResetNode(); }},
      {"LC_ResetRun", kReplyResetRun, [](SimulatedNetwork& n) { n.m_model.StartRun(); }},
      {"LC_TroubleClear", 0, [](SimulatedNetwork& n) {
         n.m_model.ClearTrouble();
         n.ScheduleReplyLocked(n.EventReplyLocked(0, static_cast<std::uint32_t>(NetworkEvent::TROUBLE_CLEAR)));
       }},
  };
  const Entry& entry = kCommands[static_cast<int>(command)];
  return Handle(entry.name, node, "", entry.ackKind, [&] { entry.act(*this); });
}

int SimulatedNetwork::NodeOpen(const char* devicePath, int mode) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  const std::string path = devicePath ? devicePath : "(null)";
  DriverCall& call = LogLocked("LC_NodeOpen", -1, "\"" + path + "\", " + std::to_string(mode));
  State& s = m_state;
  if (s.driverMissing || s.openNode != 0 || !devicePath || path != kVexlinkDevicePath) return -1;
  call.node = s.openNode = s.nextHandle++;
  s.connected = false;
  m_nowMs = NowLocked();
  WakeReceiversLocked();  // receivers waiting for a node read their handle again
  return s.openNode;
}

void SimulatedNetwork::DisconnectLocked() {
  m_state.connected = false;
  m_state.nextTimerMs = -1;
  m_scheduled.clear();
  m_state.ready.clear();
  NotifyIdleLocked();
}

int SimulatedNetwork::NodeConnect(int node, int mode) {
  return Handle("LC_NodeConnect", node, std::to_string(mode), kReplyConnect, [this] {
    m_state.connected = true;
    StartTimerLocked(m_nowMs);
  });
}

int SimulatedNetwork::UnitConfig(int node, WORD unit, int present) {
  return Handle("LC_UnitConfig", node, Hex4(unit) + ", " + std::to_string(present), 0, [&] {
    const std::vector<std::uint16_t>& absent = m_state.absentUnits;
    m_model.SetUnitPresent(unit, present != 0 && std::find(absent.begin(), absent.end(), unit) == absent.end());
  });
}

int SimulatedNetwork::Inquiry(int node, WORD unit) {
  return Handle("LC_Inquiry", node, Hex4(unit), 0, [&] {
    if (!m_model.IsPresent(unit) || (unit == kUnitAutosampler && m_model.SamplerSilent())) return;
    ScheduleReplyLocked(ReplyLocked(kReplyInquiry, unit, Identification(unit)));
    if (unit != kUnitNode) return;
    StoredRecord list;  // the node lists its units
    std::uint16_t n = 0;
    for (std::uint16_t u : kModelUnits) {
      if (m_model.IsPresent(u)) list.Row<reply::UnitList::Units>(n++).Set<reply::UnitList::Unit>(u);
    }
    list.Set<reply::UnitList::Count>(n);
    ScheduleReplyLocked(ReplyLocked(kReplyConfig, 0, BytesOf(list)));
  });
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
  return Handle("LC_UnitStatus", node, Hex4(unit), 0, [&] {
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
      PumpSettings set{unlessUnchanged(1), std::nullopt, unlessUnchanged(3), unlessUnchanged(4)};
      // Three words that do not add up to 100 are no composition (what a
      // sender leaves in them from an earlier command).
      if (word(5) + word(6) + word(7) == 100) {
        set.composition = Composition{1.0 * word(5), 1.0 * word(6), 1.0 * word(7)};
      }
      m_model.SetPump((unit & 0xFF) - 1, set);
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

int SimulatedNetwork::XRecvFrom(int node, void* buffer, DWORD* sender) {
  Lock lock(m_mutex);
  State& s = m_state;
  if (t_holdsReply) {
    t_holdsReply = false;
    if (t_holdGeneration == m_nGeneration && s.inFlight > 0) --s.inFlight;
    // Only the last reply of a time lets a waiting sleep go on; a sleep
    // that spins needs no notification.
    if (IdleLocked()) {
      m_idleSignal.fetch_add(1, std::memory_order_release);
      if (m_idleWaiters > 0) {
        lock.unlock();
        m_idleCv.notify_all();
        lock.lock();
      }
    }
  }
  t_isReceiver = true;
  bool spun = false;
  for (;;) {
    if (IsOpenLocked(node)) {
      if (!s.ready.empty()) break;
    } else if (s.openNode != 0) {
      return 0;  // an old handle: the caller reads its handle again
    }
    if (m_bSleepHandedOver && s.ready.empty() && s.inFlight == 0) {
      // Every reply of this time handled: this thread moves the clock on
      // to the next, and takes what falls due there itself.
      m_bSleepHandedOver = false;
      lock.unlock();
      platform::Clock::Get().ContinueSleep();
      lock.lock();
      continue;
    }
    if (!spun) {
      // In virtual time the next replies are usually microseconds away. A
      // receiver spinning counts as waiting: a hand-over reaches it.
      spun = true;
      const std::uint32_t seen = m_replySignal.load(std::memory_order_relaxed);
      ++m_receiversWaiting;
      lock.unlock();
      m_receiverGate.SpinWhileUnchanged(m_replySignal, seen);
      lock.lock();
      --m_receiversWaiting;
      continue;
    }
    ++m_receiversWaiting;
    m_replyCv.wait(lock);
    --m_receiversWaiting;
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
    WakeReceiversLocked();
  }
  platform::Clock::Get().AddDriver(this);
}

std::vector<DriverCall> SimulatedNetwork::Calls() const { return Locked([this] { return m_state.calls; }); }
int SimulatedNetwork::OpenNode() const { return Locked([this] { return m_state.openNode; }); }

std::vector<std::string> SimulatedNetwork::CallTexts(bool hostOnly) const {
  std::vector<std::string> texts;
  for (const DriverCall& call : Calls()) {
    if (!(hostOnly && call.fromReceiver)) texts.push_back(call.text);
  }
  return texts;
}

std::vector<SimReply> SimulatedNetwork::Replies() const {
  return Locked([this] { return std::vector<SimReply>(m_state.replies.begin(), m_state.replies.end()); });
}

void SimulatedNetwork::SetKeepLogs(bool keep) { Locked([&] { m_state.keepLogs = keep; }); }
void SimulatedNetwork::SetDriverMissing(bool missing) { Locked([&] { m_state.driverMissing = missing; }); }
void SimulatedNetwork::SetAutosamplerSilent(bool on) { Locked([&] { m_model.SetSamplerSilent(on); }); }
void SimulatedNetwork::SetNodeState(std::uint32_t state) { Locked([&] { m_model.ForceNodeState(state); }); }
void SimulatedNetwork::SetLogOnlyForTesting(bool logOnly) { Locked([&] { m_state.logOnly = logOnly; }); }

void SimulatedNetwork::SetUnitAbsent(std::uint16_t unit, bool absent) {
  Locked([&] {
    std::erase(m_state.absentUnits, unit);
    if (absent) m_state.absentUnits.push_back(unit);
  });
}

void SimulatedNetwork::SetTimerPeriodForTesting(std::int64_t periodMs) {
  Locked([&] {
    m_state.timerPeriodMs = std::max<std::int64_t>(0, periodMs);
    if (m_state.connected) StartTimerLocked(NowLocked());
  });
}

void SimulatedNetwork::DeliverReply(int kind, DWORD sender, const void* bytes, std::size_t size) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  SimReply reply;
  reply.kind = kind;
  reply.sender = sender;
  reply.bytes = CopyOf(bytes, std::min<std::size_t>(size, LC_REPLY_BUFFER_SIZE));
  ProduceLocked(std::move(reply), false);
  WaitIdleLocked(lock);
}

void SimulatedNetwork::SendEvent(std::uint16_t unit, std::uint32_t code) {
  const SimReply event = Locked([&] { return EventReplyLocked(unit, code); });
  DeliverReply(event.kind, event.sender, event.bytes.data(), event.bytes.size());
}

void SimulatedNetwork::SendTrouble(std::uint16_t unit, std::uint16_t what) {
  SendEvent(unit, kEventTrouble | (std::uint32_t{unit} << 16) | what);
}
void SimulatedNetwork::SendWarning(std::uint16_t unit, std::uint16_t what) {
  SendEvent(unit, kEventWarning | (std::uint32_t{unit} << 16) | what);
}

}  // namespace sim
