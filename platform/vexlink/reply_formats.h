// What the instrument network sends back through LC_XRecvFrom: reply
// kinds, event codes, unit addresses and the layouts of the reply records.
// These are the driver library's formats, shared by the plug-in's decoder
// (network/reply_decoder.h) and the simulated network that writes them.
//
// A reply is a record of LC_REPLY_BUFFER_SIZE bytes. Bytes 0-15 are a
// header that nothing here interprets; the data start at byte 16. Every
// field below lies inside the buffer (checked at compile time by
// platform/vexlink/le_record.h), so no decoder can read past it.
// Header-only; no state.
#pragma once

#include <cstdint>

#include "platform/vexlink/le_record.h"
#include "platform/vexlink/vexlink.h"

// The kind LC_XRecvFrom returns. Odd numbers 101..179 are known; every
// other value is not a reply this program handles.
enum ReplyKind : int {
  kReplyNone = 0,
  kReplyEcho = 101,
  kReplyConnect = 103,
  kReplyDisconnect = 105,
  kReplyInquiry = 107,
  kReplyConfig = 109,
  kReplyPing = 111,
  kReplyEvent = 113,
  kReplyStatus = 115,
  kReplyXFer = 117,
  kReplyServerActivate = 119,
  kReplyServerDeactivate = 121,
  kReplyExternalIn = 123,
  kReplyTestSample = 127,
  kReplyScanSpectrum = 129,
  kReplyBaseLine = 131,
  kReplyXFerSpectrum = 133,
  kReplyMemoryStatus = 135,
  kReplyMemoryClear = 137,
  kReplyDirect = 139,
  kReplyPushSystemProgram = 141,
  kReplyAsLock = 143,
  kReplyAsUnLock = 145,
  kReplyResetRun = 153,
  kReplyPause = 155,
  kReplyPauseRerun = 157,
  kReplyFlush = 159,
  kReplyPumpStart = 161,
  kReplyPumpStop = 163,
  kReplyHold = 165,
  kReplyHoldRerun = 167,
  kReplyAnlsFile = 169,
  kReplyStop = 171,
  kReplyInjectedInfo = 173,
  kReplyReset = 175,
  kReplyReserved179 = 179,
};

// Event codes (`EventCode`, the u32 of an event reply). The two top bits
// are a severity. With both clear, 0x00010000..0x0001FFFF are network
// events; every other code is a unit event whose low 16 bits name the
// event and whose high 16 bits are the sending unit's address.
using EventCode = std::uint32_t;

inline constexpr EventCode kEventSeverityMask = 0xC0000000u;
inline constexpr EventCode kEventWarning = 0xC0000000u;
inline constexpr EventCode kEventTrouble = 0x80000000u;
inline constexpr EventCode kEventSeverity01 = 0x40000000u;
inline constexpr EventCode kNetworkEventFirst = 0x00010000u;
inline constexpr EventCode kNetworkEventLast = 0x0001FFFFu;

enum class NetworkEvent : EventCode {
  TIMER_TIMEOUT = 0x00010000u,
  VEXLINK_EXPECT = 0x00010010u,
  RENEW_SYSPRGM = 0x00010020u,
  NEXT_STEP = 0x00010030u,
  REQUEST_STEP_DATA = 0x00010405u,
  SS_STAT = 0x0001040Eu,
  AS_STAT = 0x0001040Fu,
  RESET = 0x00010410u,
  EVENT = 0x00010411u,
  VALVE = 0x00010412u,
  TROUBLE_CLEAR = 0x00010413u,
  SYNC = 0x00010414u,
};

// Low 16 bits of a unit event.
enum class UnitEvent : std::uint16_t {
  RESETRUN = 0x0400,
  INJECT = 0x0401,
  INJECTED_INF = 0x0402,
  ANLSTIME_END = 0x0403,
  SAMPLE_LOADED = 0x0404,
  ANLSSEQ_DONE = 0x0405,
  INITRUN = 0x0408,
  LINKDOWN = 0x0409,
  TEST_UNIT_READY = 0x040A,
  END_MODE = 0x040B,
  SYSPRGM_XFER = 0x040C,
};

// Low 16 bits of a pump's trouble event (kEventTrouble | address << 16 |
// what): the pump stopped above its upper or below its lower pressure
// limit.
inline constexpr std::uint16_t kTroubleUpperPressure = 0x0201;
inline constexpr std::uint16_t kTroubleLowerPressure = 0x0202;

constexpr EventCode MakeUnitEvent(std::uint16_t unit, UnitEvent event) {
  return (static_cast<EventCode>(unit) << 16) | static_cast<EventCode>(event);
}

// Unit addresses: unit kind x 256 + unit number.
inline constexpr std::uint16_t kUnitNode = 0x0000;
inline constexpr std::uint16_t kUnitPump1 = 0x0101;
inline constexpr std::uint16_t kUnitPump2 = 0x0102;
inline constexpr std::uint16_t kUnitPump3 = 0x0103;
inline constexpr std::uint16_t kUnitUV = 0x0401;
inline constexpr std::uint16_t kUnitAutosampler = 0x0501;
inline constexpr std::uint16_t kUnitOven = 0x0601;

// The node card's state (NodeStatus::Status).
enum NodeState : std::uint32_t {
  kNodeIdle = 1,     // pumps off
  kNodePumpOn = 2,   // pumps on, no run
  kNodeRunning = 3,  // a run in progress
  // States the node leaves only when it is reset (LC_Reset).
  kNodeResetNeeded7 = 7,
  kNodeResetNeeded8 = 8,
  kNodeResetNeeded9 = 9,
};

// The autosampler's state (AutosamplerStatus::Status, low 16 bits).
enum SamplerStatus : std::uint32_t {
  kSamplerNotReady = 0x0000,   // not configured, or homing
  kSamplerReadyIdle = 0x0104,  // ready
  kSamplerToVial = 0x0111,
  kSamplerDrawing = 0x0112,
  kSamplerInjecting = 0x0113,
  kSamplerFlushing = 0x0114,
  kSamplerInjected = 0x0124,   // injected; waits for the end of the run
};

// Unit kinds, as `address AND 0x7F00` (bit 15 and the unit number are
// ignored).
inline constexpr std::uint16_t kUnitKindMask = 0x7F00;
inline constexpr std::uint16_t kKindPump = 0x0100;
inline constexpr std::uint16_t kKindUV = 0x0400;
inline constexpr std::uint16_t kKindAutosampler = 0x0500;
inline constexpr std::uint16_t kKindOven = 0x0600;
inline constexpr std::uint16_t kKindFluorescence = 0x0A00;
inline constexpr std::uint16_t kKindRefractiveIndex = 0x0B00;

namespace reply {

using Record = le::View<LC_REPLY_BUFFER_SIZE>;

// External IN (kind 123): the first four 16-bit words of the record.
template <int I>
using FirstWord = le::Field<std::uint16_t, 2 * I>;

// Identification (kind 107): NUL-terminated texts.
struct Identification {
  using Vender = le::TextField<16, 8>;
  using ModelName = le::TextField<24, 20>;
  using ModelVersion = le::TextField<44, 20>;
  using ModelSerial = le::TextField<64, 20>;
  using ModelSccs = le::TextField<84, 20>;
};

// Unit list (kind 109): a count, then sixteen unit addresses.
struct UnitList {
  using Count = le::Field<std::uint16_t, 16>;
  using Units = le::Table<18, 2, 16>;
  using Unit = le::Field<std::uint16_t, 0>;  // within a Units row
};

// The sample_info group, starting at byte `B`.
template <std::size_t B>
struct SampleInfo {
  using AnlsSerial = le::Field<std::uint32_t, B>;
  using UserProgram = le::Field<std::int16_t, B + 4>;
  using NumberOfFlush = le::Field<std::int16_t, B + 6>;
  using InjectVolume = le::Field<std::uint32_t, B + 8>;
  using DelayTime = le::Field<std::uint16_t, B + 12>;
  using AnlsTime = le::Field<std::uint16_t, B + 14>;
  using FirstSampleNo = le::Field<std::int16_t, B + 16>;
  using LastSampleNo = le::Field<std::int16_t, B + 18>;
  using NumberOfInject = le::Field<std::int16_t, B + 20>;
  using CurrentSampleNo = le::Field<std::int16_t, B + 22>;
  using CurrentInjectNo = le::Field<std::int16_t, B + 24>;
};

// Injected sample (kind 173).
using InjectedInfo = SampleInfo<16>;

// Event (kind 113).
struct Event {
  using Code = le::Field<std::uint32_t, 16>;
};

// Status (kind 115) of the node's own card (sender 0).
struct NodeStatus {
  using Status = le::Field<std::uint32_t, 16>;
  using ElapsedAnlsTime = le::Field<std::int32_t, 24>;  // ms
  using Sample = SampleInfo<28>;
  using SysfileSerial = le::Field<std::uint32_t, 56>;
  template <int I>
  using Comp = le::Field<std::int16_t, 60 + 2 * I>;  // hundredths of a percent of A, B, C
  using ActuallPress = le::Field<std::int16_t, 66>;
  using ActuallFlow = le::Field<std::int16_t, 68>;
  using SetFlow = le::Field<std::int16_t, 70>;
  using SetPress = le::Field<std::int16_t, 72>;
  using SetPmax = le::Field<std::int16_t, 74>;
  using SetPmin = le::Field<std::int16_t, 76>;
  using CurrentSysfileNo = le::Field<std::int16_t, 78>;
  using Event = le::Field<std::uint32_t, 80>;
  using Valve = le::Field<std::uint32_t, 84>;
  using TotalTime = le::Field<std::uint32_t, 88>;
};

struct PumpStatus {
  using Status = le::Field<std::uint32_t, 16>;
  using ActualPress = le::Field<std::int16_t, 20>;  // bar
  using ActualFlow = le::Field<std::int16_t, 22>;   // ul/min
  template <int I>
  using Comp = le::Field<std::int16_t, 24 + 2 * I>;
  using SetFlow = le::Field<std::int16_t, 30>;
  using SetPress = le::Field<std::int16_t, 32>;
  using SetPmax = le::Field<std::int16_t, 34>;
  using SetPmin = le::Field<std::int16_t, 36>;
};

struct AutosamplerStatus {
  using Status = le::Field<std::uint32_t, 16>;
  using SampleNumber = le::Field<std::int16_t, 24>;
  using NumberOfInject = le::Field<std::int16_t, 26>;
  using Sample = SampleInfo<28>;
  using IAmLastSample = le::Field<std::int16_t, 56>;
};

struct OvenStatus {
  using Status = le::Field<std::uint32_t, 16>;
  using Temp = le::Field<std::int16_t, 20>;  // degrees C
  using SetTemp = le::Field<std::int16_t, 22>;
};

struct UVStatus {
  using Status = le::Field<std::uint32_t, 16>;  // bit 14 set: lamp off
  using Nwl = le::Field<std::int16_t, 20>;
  using Range = le::Field<std::int16_t, 22>;
  using Response = le::Field<std::int16_t, 24>;
  using Wavelength = le::Field<std::uint32_t, 28>;
  using Absorbance = le::Field<std::uint32_t, 32>;
  using SigSample = le::Field<std::uint32_t, 36>;
  using SigReference = le::Field<std::uint32_t, 40>;

  static constexpr std::uint32_t kLampOffBit = 1u << 14;
};

struct FluorescenceStatus {
  template <int I>  // status, nwl, response, gain, atten, ex_bandwidth, em_bandwidth, ex_wl, em_wl, signal
  using Word = le::Field<std::uint32_t, 16 + 4 * I>;
};

struct RefractiveIndexStatus {
  template <int I>  // status, signal, range, polarity, temp, purge, response
  using Word = le::Field<std::uint32_t, 16 + 4 * I>;
};

}  // namespace reply
