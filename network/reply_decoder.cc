#include "network/reply_decoder.h"

#include "network/vexlink_session.h"
#include "network/wire_trace.h"
#include "platform/vexlink/reply_formats.h"
#include "platform/vexlink/vexlink.h"

constinit UnitStatusSnapshot g_unitStatusSnapshot;

namespace {

// Single-precision scale factors of the network's units.
constexpr float kMsToMinutes = 1.0f / 60000.0f;
constexpr float kHundredthsToPercent = 0.01f;
constexpr float kUlToMl = 0.001f;

struct KindText {
  const char* text;
  int flag;
};

// The trace text of each known kind; kinds 113 and 115 have their own.
KindText TextOfKind(int kind) {
  switch (kind) {
    case kReplyEcho: return {"Vexlink ECHO", 1};
    case kReplyConnect: return {"Vexlink CONNECT", 1};
    case kReplyDisconnect: return {"Vexlink DISCONNECT", 1};
    case kReplyInquiry: return {"Vexlink InquiryReply", 0};
    case kReplyConfig: return {"Vexlink ConfigReply", 0};
    case kReplyPing: return {"Vexlink PingReply", 0};
    case kReplyXFer: return {"Vexlink XFerReply", 0};
    case kReplyServerActivate: return {"Vexlink ServerActivate Reply", 0};
    case kReplyServerDeactivate: return {"Vexlink ServerDeactivate Reply", 0};
    case kReplyExternalIn: return {"Vexlink External IN Reply", 0};
    case kReplyTestSample: return {"Vexlink TestSample Reply", 0};
    case kReplyScanSpectrum: return {"Vexlink ScanSpectrum Reply", 0};
    case kReplyBaseLine: return {"Vexlink BaseLine Reply", 0};
    case kReplyXFerSpectrum: return {"Vexlink XFerSpectrum Reply", 0};
    case kReplyMemoryStatus: return {"Vexlink MemoryStatus Reply", 0};
    case kReplyMemoryClear: return {"Vexlink MemoryClear Reply", 0};
    case kReplyDirect: return {"Vexlink Direct Reply", 0};
    case kReplyPushSystemProgram: return {"Vexlink PushSystemProgram Reply", 0};
    case kReplyAsLock: return {"Vexlink AS_Lock Reply", 0};
    case kReplyAsUnLock: return {"Vexlink AS_UnLock Reply", 0};
    case kReplyResetRun: return {"Vexlink ResetRun Reply", 0};
    case kReplyPause: return {"Vexlink Pause Reply", 0};
    case kReplyPauseRerun: return {"Vexlink PauseRerun Reply", 0};
    case kReplyFlush: return {"Vexlink Flush Reply", 0};
    case kReplyPumpStart: return {"Vexlink PumpStart Reply", 0};
    case kReplyPumpStop: return {"Vexlink PumpStop Reply", 0};
    case kReplyHold: return {"Vexlink Hold Reply", 0};
    case kReplyHoldRerun: return {"Vexlink HoldRerun Reply", 0};
    case kReplyAnlsFile: return {"Vexlink AnlsFile Reply", 0};
    case kReplyStop: return {"Vexlink Stop Reply", 0};
    case kReplyInjectedInfo: return {"Vexlink InjectedInfo Reply", 0};
    case kReplyReset: return {"Vexlink Reset Reply", 0};
    default: return {nullptr, 0};
  }
}

const char* NameOfNetworkEvent(EventCode code) {
  switch (static_cast<NetworkEvent>(code)) {
    case NetworkEvent::TIMER_TIMEOUT: return "TIMER_TIMEOUT";
    case NetworkEvent::VEXLINK_EXPECT: return "VEXLINK_EXPECT";
    case NetworkEvent::RENEW_SYSPRGM: return "RENEW_SYSPRGM";
    case NetworkEvent::NEXT_STEP: return "NEXT_STEP";
    case NetworkEvent::REQUEST_STEP_DATA: return "REQUEST_STEP_DATA";
    case NetworkEvent::SS_STAT: return "SS_STAT";
    case NetworkEvent::AS_STAT: return "AS_STAT";
    case NetworkEvent::RESET: return "RESET";
    case NetworkEvent::EVENT: return "EVENT";
    case NetworkEvent::VALVE: return "VALVE";
    case NetworkEvent::TROUBLE_CLEAR: return "TROUBLE_CLEAR";
    case NetworkEvent::SYNC: return "SYNC";
  }
  return "";
}

const char* NameOfUnitEvent(std::uint16_t low) {
  switch (static_cast<UnitEvent>(low)) {
    case UnitEvent::RESETRUN: return "RESETRUN";
    case UnitEvent::INJECT: return "INJECT";
    case UnitEvent::INJECTED_INF: return "INJECTED_INF";
    case UnitEvent::ANLSTIME_END: return "ANLSTIME_END";
    case UnitEvent::SAMPLE_LOADED: return "SAMPLE_LOADED";
    case UnitEvent::ANLSSEQ_DONE: return "ANLSSEQ_DONE";
    case UnitEvent::INITRUN: return "INITRUN";
    case UnitEvent::LINKDOWN: return "LINKDOWN";
    case UnitEvent::TEST_UNIT_READY: return "TEST_UNIT_READY";
    case UnitEvent::END_MODE: return "END_MODE";
    case UnitEvent::SYSPRGM_XFER: return "SYSPRGM_XFER";
  }
  return nullptr;
}

template <class S>
void TraceSampleInfo(const reply::Record& r, TraceLine& line) {
  line.Add("anls_serial=%u user_program=%d number_of_flush=%d inject_volume=%u delay_time=%u anls_time=%u",
           r.Get<typename S::AnlsSerial>(), r.Get<typename S::UserProgram>(), r.Get<typename S::NumberOfFlush>(),
           r.Get<typename S::InjectVolume>(), r.Get<typename S::DelayTime>(), r.Get<typename S::AnlsTime>());
  line.Add("first_sample_no=%d last_sample_no=%d number_of_inject=%d current_sample_no=%d current_inject_no=%d",
           r.Get<typename S::FirstSampleNo>(), r.Get<typename S::LastSampleNo>(), r.Get<typename S::NumberOfInject>(),
           r.Get<typename S::CurrentSampleNo>(), r.Get<typename S::CurrentInjectNo>());
}

void TraceNodeStatus(const reply::Record& r, TraceLine& line) {
  using N = reply::NodeStatus;
  line.Add("node: status=%u elapsed_anls_time=%d", r.Get<N::Status>(), r.Get<N::ElapsedAnlsTime>());
  TraceSampleInfo<N::Sample>(r, line);
  line.Add("sysfile_serial=%u comp=%d/%d/%d actuall_press=%d actuall_flow=%d set_flow=%d set_press=%d",
           r.Get<N::SysfileSerial>(), r.Get<N::Comp<0>>(), r.Get<N::Comp<1>>(), r.Get<N::Comp<2>>(),
           r.Get<N::ActuallPress>(), r.Get<N::ActuallFlow>(), r.Get<N::SetFlow>(), r.Get<N::SetPress>());
  line.Add("set_pmax=%d set_pmin=%d current_sysfile_no=%d event=0x%x valve=0x%x total_time=%u", r.Get<N::SetPmax>(),
           r.Get<N::SetPmin>(), r.Get<N::CurrentSysfileNo>(), r.Get<N::Event>(), r.Get<N::Valve>(),
           r.Get<N::TotalTime>());
}

void TraceUnitStatus(const reply::Record& r, std::uint16_t unitKind, TraceLine& line) {
  switch (unitKind) {
    case kKindPump: {
      using P = reply::PumpStatus;
      line.Add("pu: status=0x%x actual_press=%d actual_flow=%d comp=%d/%d/%d set_flow=%d set_press=%d set_pmax=%d "
               "set_pmin=%d",
               r.Get<P::Status>(), r.Get<P::ActualPress>(), r.Get<P::ActualFlow>(), r.Get<P::Comp<0>>(),
               r.Get<P::Comp<1>>(), r.Get<P::Comp<2>>(), r.Get<P::SetFlow>(), r.Get<P::SetPress>(),
               r.Get<P::SetPmax>(), r.Get<P::SetPmin>());
      break;
    }
    case kKindAutosampler: {
      using A = reply::AutosamplerStatus;
      line.Add("as: status=0x%x sample_number=%d number_of_inject=%d I_am_last_sample=%d", r.Get<A::Status>(),
               r.Get<A::SampleNumber>(), r.Get<A::NumberOfInject>(), r.Get<A::IAmLastSample>());
      TraceSampleInfo<A::Sample>(r, line);
      break;
    }
    case kKindOven: {
      using O = reply::OvenStatus;
      line.Add("co: status=0x%x temp=%d set_temp=%d", r.Get<O::Status>(), r.Get<O::Temp>(), r.Get<O::SetTemp>());
      break;
    }
    case kKindUV: {
      using U = reply::UVStatus;
      line.Add("uv: status=0x%x nwl=%d range=%d response=%d wavelength=%u absorbance=%u sig_sample=%u "
               "sig_reference=%u",
               r.Get<U::Status>(), r.Get<U::Nwl>(), r.Get<U::Range>(), r.Get<U::Response>(), r.Get<U::Wavelength>(),
               r.Get<U::Absorbance>(), r.Get<U::SigSample>(), r.Get<U::SigReference>());
      break;
    }
    case kKindFluorescence: {
      using F = reply::FluorescenceStatus;
      line.Add("fp: status=0x%x nwl=%u response=%u gain=%u atten=%u", r.Get<F::Word<0>>(), r.Get<F::Word<1>>(),
               r.Get<F::Word<2>>(), r.Get<F::Word<3>>(), r.Get<F::Word<4>>());
      line.Add("ch[0]: ex_bandwidth=%u em_bandwidth=%u ex_wl=%u em_wl=%u signal=%u", r.Get<F::Word<5>>(),
               r.Get<F::Word<6>>(), r.Get<F::Word<7>>(), r.Get<F::Word<8>>(), r.Get<F::Word<9>>());
      break;
    }
    case kKindRefractiveIndex: {
      using R = reply::RefractiveIndexStatus;
      line.Add("ri: status=0x%x signal=%u range=%u polarity=%u temp=%u purge=%u response=%u", r.Get<R::Word<0>>(),
               r.Get<R::Word<1>>(), r.Get<R::Word<2>>(), r.Get<R::Word<3>>(), r.Get<R::Word<4>>(),
               r.Get<R::Word<5>>(), r.Get<R::Word<6>>());
      break;
    }
    default:
      line.Add("(unit kind 0x%04x not decoded)", unitKind);
      break;
  }
}

void DecodeStatus(const reply::Record& r, WORD sender, TraceLine& line) {
  UnitStatusSnapshot& s = g_unitStatusSnapshot;
  if (line.Active()) line.Add("Vexlink StatusReply");
  if (sender == kUnitNode) {
    using N = reply::NodeStatus;
    s.m_dwNodeState.Store(r.Get<N::Status>());
    s.m_fElapsedMinutes.Store(static_cast<float>(r.Get<N::ElapsedAnlsTime>()) * kMsToMinutes);
    s.m_fPercentA.Store(static_cast<float>(r.Get<N::Comp<0>>()) * kHundredthsToPercent);
    s.m_fPercentB.Store(static_cast<float>(r.Get<N::Comp<1>>()) * kHundredthsToPercent);
    s.m_fPercentC.Store(static_cast<float>(r.Get<N::Comp<2>>()) * kHundredthsToPercent);
    if (line.Active()) TraceNodeStatus(r, line);
    return;
  }
  const std::uint16_t unitKind = sender & kUnitKindMask;
  switch (unitKind) {
    case kKindPump:
      s.m_fPumpPressure.Store(static_cast<float>(r.Get<reply::PumpStatus::ActualPress>()));
      s.m_fPumpFlow.Store(static_cast<float>(r.Get<reply::PumpStatus::ActualFlow>()) * kUlToMl);
      break;
    case kKindAutosampler:
      s.m_dwSamplerStatus.Store(r.Get<reply::AutosamplerStatus::Status>());
      break;
    case kKindOven:
      s.m_nOvenTemperature.Store(r.Get<reply::OvenStatus::Temp>());
      break;
    case kKindUV:
      s.m_nLamp.Store(static_cast<std::int32_t>((~r.Get<reply::UVStatus::Status>() >> 14) & 1u));
      break;
    default:
      break;
  }
  if (line.Active()) TraceUnitStatus(r, unitKind, line);
}

void DecodeEvent(const reply::Record& r, TraceLine& line) {
  const EventCode code = r.Get<reply::Event::Code>();
  const int node = g_vexlinkSession.m_hNode.Load();
  if (line.Active()) line.Add("EventReply code=0x%x -->", code);

  switch (code & kEventSeverityMask) {
    case kEventWarning:
      if (line.Active()) {
        line.Add("WARNING");
        line.Mark();
      }
      return;
    case kEventTrouble:
      if (line.Active()) {
        line.Add("TROUBLE");
        line.Mark();
      }
      LC_TroubleClear(node);
      return;
    case kEventSeverity01:
      return;
    default:
      break;
  }

  if (code >= kNetworkEventFirst && code <= kNetworkEventLast) {
    if (code == static_cast<EventCode>(NetworkEvent::TIMER_TIMEOUT)) LC_UnitStatus(node, kUnitNode);
    if (line.Active()) {
      if (const char* name = NameOfNetworkEvent(code); *name) line.Add("%s", name);
      if (code == static_cast<EventCode>(NetworkEvent::SS_STAT) ||
          code == static_cast<EventCode>(NetworkEvent::AS_STAT)) {
        line.Mark();
      }
    }
    return;
  }

  const auto low = static_cast<std::uint16_t>(code & 0xFFFF);
  if (low == static_cast<std::uint16_t>(UnitEvent::TEST_UNIT_READY)) g_vexlinkSession.m_nSamplerReady.Store(1);
  if (line.Active()) {
    if (const char* name = NameOfUnitEvent(low)) {
      line.Add("%s", name);
      if (low == static_cast<std::uint16_t>(UnitEvent::TEST_UNIT_READY) ||
          low == static_cast<std::uint16_t>(UnitEvent::LINKDOWN)) {
        line.Mark();
      }
    }
    line.Add("From UNIT=%04x", code >> 16);
  }
}

// The trace of the kinds that change nothing.
void TraceOtherKind(int kind, const reply::Record& r, TraceLine& line) {
  const KindText text = TextOfKind(kind);
  if (!text.text) {
    if (kind == kReplyReserved179) {
      line.Add("kind %d", kind);
    } else {
      line.Add("kind %d ignored", kind);
    }
    return;
  }
  line.Add("%s", text.text);
  if (text.flag) line.Mark();
  switch (kind) {
    case kReplyInquiry: {
      using I = reply::Identification;
      line.AddText("vender=", r.Text<I::Vender>());
      line.AddText("model_name=", r.Text<I::ModelName>());
      line.AddText("model_version=", r.Text<I::ModelVersion>());
      line.AddText("model_serial=", r.Text<I::ModelSerial>());
      line.AddText("model_sccs=", r.Text<I::ModelSccs>());
      break;
    }
    case kReplyConfig: {
      line.Add("n = %d:", r.Get<reply::UnitList::Count>());
      for (std::size_t i = 0; i < reply::UnitList::Units::kCount; ++i) {
        line.Add("%04x", r.Row<reply::UnitList::Units>(i).Get<reply::UnitList::Unit>());
      }
      break;
    }
    case kReplyExternalIn:
      line.Add("%x/%x/%x/%x", r.Get<reply::FirstWord<0>>(), r.Get<reply::FirstWord<1>>(),
               r.Get<reply::FirstWord<2>>(), r.Get<reply::FirstWord<3>>());
      break;
    case kReplyInjectedInfo:
      TraceSampleInfo<reply::InjectedInfo>(r, line);
      break;
    default:
      break;
  }
}

}  // namespace

void UnitStatusSnapshot::ResetForTesting() {
  m_dwNodeState.Store(0);
  m_fElapsedMinutes.Store(0.0f);
  m_fPercentA.Store(100.0f);
  m_fPercentB.Store(0.0f);
  m_fPercentC.Store(0.0f);
  m_fPercentD.Store(0.0f);
  m_fPumpFlow.Store(0.0f);
  m_fPumpPressure.Store(0.0f);
  m_dwSamplerStatus.Store(0);
  m_nOvenTemperature.Store(0);
  m_nLamp.Store(0);
}

void DispatchReply(int kind, const BYTE* record, WORD sender) {
  const reply::Record r(record);
  TraceLine line;
  // The driver returns kind 0 when there was no reply (a node was closed
  // or opened): nothing to show.
  if (line.Active() && kind != kReplyNone) {
    line.Add("#%d Recv from %04x --", g_vexlinkSession.m_nLoopCount.Load(), sender);
  }
  switch (kind) {
    case kReplyEvent:
      DecodeEvent(r, line);
      break;
    case kReplyStatus:
      DecodeStatus(r, sender, line);
      break;
    case kReplyNone:
      break;
    default:
      if (line.Active()) TraceOtherKind(kind, r, line);
      break;
  }
}

void DecodeEventReply(const BYTE* record) {
  TraceLine line;
  DecodeEvent(reply::Record(record), line);
}

void DecodeStatusReply(const BYTE* record, WORD sender) {
  TraceLine line;
  DecodeStatus(reply::Record(record), sender, line);
}
