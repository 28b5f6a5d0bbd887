// Decoding what the instrument network sends: the receiving thread hands
// every reply to DispatchReply, which routes it by kind. Event replies
// clear trouble, ask for the node's status on a timer event and mark the
// autosampler ready; status replies keep UnitStatusSnapshot up to date.
// Every other kind only goes to the wire trace.
//
// Bad input: any kind, sender and record content is decoded or ignored;
// every field read lies inside the LC_REPLY_BUFFER_SIZE-byte record.
// Thread safety: the decoders run on the receiving thread (tests and
// tools may call them on any one thread). They call LC_TroubleClear and
// LC_UnitStatus while the host's thread may be using the driver too.
#pragma once

#include <cstdint>

#include "network/shared_word.h"
#include "platform/mfc/windef.h"

// The units' last reported state, written by the receiving thread and read
// by the pump back-end when the host polls it, one word at a time without
// a lock. A poll may mix values of replies of different moments.
class UnitStatusSnapshot {
 public:
  constexpr UnitStatusSnapshot() = default;
  UnitStatusSnapshot(const UnitStatusSnapshot&) = delete;
  UnitStatusSnapshot& operator=(const UnitStatusSnapshot&) = delete;

  SharedWord<std::uint32_t> m_dwNodeState{0};
  SharedWord<float> m_fElapsedMinutes{0.0f};
  SharedWord<float> m_fPercentA{100.0f};
  SharedWord<float> m_fPercentB{0.0f};
  SharedWord<float> m_fPercentC{0.0f};
  SharedWord<float> m_fPercentD{0.0f};  // no reply writes it
  SharedWord<float> m_fPumpFlow{0.0f};       // ml/min
  SharedWord<float> m_fPumpPressure{0.0f};   // as the pump reports it (bar)
  SharedWord<std::uint32_t> m_dwSamplerStatus{0};
  SharedWord<std::int32_t> m_nOvenTemperature{0};  // whole degrees C
  SharedWord<std::int32_t> m_nLamp{0};             // 1 = on

  // The values at load. Tests only.
  void ResetForTesting();
};

extern UnitStatusSnapshot g_unitStatusSnapshot;

// REQUIRES: `record` points to LC_REPLY_BUFFER_SIZE readable bytes.
void DispatchReply(int kind, const BYTE* record, WORD sender);
void DecodeEventReply(const BYTE* record);
void DecodeStatusReply(const BYTE* record, WORD sender);
