// The simulated instrument network behind the driver library's functions
// (platform/vexlink/vexlink.h, answered in sim/vexlink_driver.cc): one node
// card with its units (sim/instrument_model.h). Commands act on the units
// at the current clock time and are answered kReplyLatencyMs later; once
// a node is connected, timer events and the units' notices become event
// replies. docs/simulator.md gives every record and event it sends.
//
// Time: the network runs on the scheduler (sim/scheduler.h): a virtual
// sleep returns only when every reply due by then has been received and
// dispatched (the receiver is back in LC_XRecvFrom and nothing is queued).
// REQUIRES: while a node is connected, some thread receives with
// LC_XRecvFrom (the plug-in's receiving thread), unless replies are
// switched to the log only (SetLogOnlyForTesting); a virtual sleep that
// waits 30 s of wall time for a receiver aborts with a message.
//
// The network is one process-wide object that lives until the process
// ends (a thread may wait in LC_XRecvFrom until then).
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/mfc/windef.h"
#include "sim/scheduler.h"

namespace sim {

// One call of a driver function.
struct DriverCall {
  std::string name;   // "LC_UnitConfig"
  std::string text;   // "LC_UnitConfig(0x0501, 1)": the call without its handle
  int node = 0;       // the handle passed; for LC_NodeOpen the handle returned
  std::vector<std::vector<std::uint8_t>> records;  // byte copies of the records passed
  std::int64_t atMs = 0;
  bool fromReceiver = false;  // made on a thread that receives replies
};

// One reply the network produced.
struct SimReply {
  int kind = 0;
  DWORD sender = 0;  // network number in the high 16 bits, unit address in the low
  std::vector<std::uint8_t> bytes;  // the record; the rest of the receive buffer is 0
  std::int64_t atMs = 0;
  int node = 0;           // the node it came from
  DWORD receivedBy = 0;  // id of the thread that received it; 0 if not (yet) received
};

class SimulatedNetwork final : public Scheduler {
 public:
  static constexpr int kNetworkNumber = 1;
  static constexpr std::int64_t kReplyLatencyMs = 10;
  static constexpr std::int64_t kDefaultTimerPeriodMs = 1000;
  static constexpr std::size_t kStoredReplySize = 128;

  static SimulatedNetwork& Get();

  // ---- The driver library's functions ----
  // Those that name only the node, each one LC_ function.
  enum class NodeCommand {
    kNodeClose, kHardReset, kActivateKernelThread, kDeactivateKernelThread,
    kPumpStart, kPumpStop, kStop, kReset, kResetRun, kTroubleClear,
  };
  int Command(NodeCommand command, int node);
  int NodeOpen(const char* devicePath, int mode);
  int NodeConnect(int node, int mode);
  int UnitConfig(int node, WORD unit, int present);
  int Inquiry(int node, WORD unit);
  int PushAnlsFile(int node, const void* runHeader, const void* anlsFile, const void* transferControl);
  int UnitStatus(int node, WORD unit);
  int UnitDirect(int node, WORD unit, const void* command);
  int XRecvFrom(int node, void* buffer, DWORD* sender);

  // ---- Test face ----
  // A fresh network: no node open, logs empty, switches off, instruments
  // at power-up, handles numbered from 1 again; registers with the clock.
  // A thread waiting in LC_XRecvFrom keeps waiting for the next open.
  void ResetForTesting();

  std::vector<DriverCall> Calls() const;
  // The calls' texts; with `hostOnly`, without those made by receivers.
  std::vector<std::string> CallTexts(bool hostOnly = false) const;
  std::vector<SimReply> Replies() const;
  int OpenNode() const;

  // ---- Control face (sim/control.h sets these; tests may too) ----
  // Whether every call and reply is kept in the logs (the default; a
  // reset turns it back on). A program that runs for hours turns it off so
  // that its memory stays flat: the reply log then holds only the replies
  // not yet received, and the call log nothing.
  void SetKeepLogs(bool keep);

  // LC_NodeOpen fails (-1), as when the driver is missing.
  void SetDriverMissing(bool missing);
  // `unit` stays absent when LC_UnitConfig declares it present: it does
  // not answer and is not in the node's unit list.
  void SetUnitAbsent(std::uint16_t unit, bool absent = true);
  // The autosampler never reports ready and never answers.
  void SetAutosamplerSilent(bool silent);
  // The node reports `state` (7, 8 or 9: needs a reset) until LC_Reset.
  void SetNodeState(std::uint32_t state);
  // A trouble event from `unit` now, delivered and dispatched before the
  // call returns (as DeliverReply).
  void SendTrouble(std::uint16_t unit, std::uint16_t what);

  // ---- Test face, continued ----
  // TIMER_TIMEOUT period; 0 stops the timer events.
  void SetTimerPeriodForTesting(std::int64_t periodMs);
  // Replies go to the reply log only and nobody is waited for: for tests
  // of the network without a receiving thread.
  void SetLogOnlyForTesting(bool logOnly);

  // A reply now, delivered and dispatched before the call returns (when a
  // node is connected and a receiver is expected; else only logged).
  void DeliverReply(int kind, DWORD sender, const void* bytes, std::size_t size);
  // An event reply from `unit` with `code`, delivered likewise.
  void SendEvent(std::uint16_t unit, std::uint32_t code);
  void SendWarning(std::uint16_t unit, std::uint16_t what);

  // InstrumentsNow, BlockLine and FillBottles (the bottles are
  // kept across opens and power-ups): sim/scheduler.h.

 private:
  // Everything a reset renews.
  struct State {
    int openNode = 0;
    int nextHandle = 1;
    bool connected = false;
    std::int64_t timerPeriodMs = kDefaultTimerPeriodMs;
    std::int64_t nextTimerMs = -1;
    std::uint32_t pushes = 0;
    std::deque<std::size_t> ready;  // numbers of replies not yet received, oldest first
    int inFlight = 0;               // replies taken by receivers that are not back yet
    bool driverMissing = false;
    std::vector<std::uint16_t> absentUnits;
    bool logOnly = false;
    bool keepLogs = true;
    std::vector<DriverCall> calls;
    DriverCall lastCall;            // where a call goes when the log is not kept
    std::deque<SimReply> replies;   // replies[i] is reply number repliesDropped + i
    std::size_t repliesDropped = 0;
  };

  SimulatedNetwork();

  // ---- Scheduler ----
  bool ActiveLocked() const override { return m_state.openNode != 0; }
  std::int64_t OwnDueLocked() const override {
    return m_state.connected && m_state.nextTimerMs >= 0 ? m_state.nextTimerMs : kNothingDue;
  }
  void ProduceOwnLocked() override;  // the timer event
  void EmitNoticeLocked(const Notice& notice) override;
  bool IdleLocked() const override {
    return !ReceiverExpectedLocked() || (m_state.ready.empty() && m_state.inFlight == 0);
  }
  void WakeOtherSideLocked(Lock& lock) override;
  bool CanHandOverLocked() const override;
  void HandOverLocked() override;
  std::string StallTextLocked() const override;
  // Receivers look again (a reply is ready, a node opened, a reset).
  void WakeReceiversLocked();
  // The network became idle without a receiver coming back.
  void NotifyIdleLocked();

  // One side of the hand-over between a virtual sleep and the receivers
  // spins a moment, watching for the other, before it waits in the kernel.
  // In virtual time the sides take turns within microseconds (the
  // receiver handles a few replies, the sleep produces the next ones, the
  // host polls again); a spin through such a gap costs less than a thread
  // sleeping and being woken in the kernel, which on an idle machine also
  // waits for a processor to leave its idle state. A side whose spins run
  // out (a busy machine, a real second to wait) spins ever more rarely, up
  // to once in kMaxSkip hand-overs, until a spin succeeds again.
  class SpinGate {
   public:
    // Spins until `signal` differs from `seen` or kSpinRounds pauses have
    // passed (tens of microseconds; counted, not timed, so the simulators
    // read no clock of their own), unless this hand-over is one to skip;
    // true if it changed.
    bool SpinWhileUnchanged(const std::atomic<std::uint32_t>& signal, std::uint32_t seen);

   private:
    static constexpr unsigned kSpinRounds = 2048;
    static constexpr std::uint32_t kMaxSkip = 1023;
    std::atomic<std::uint32_t> m_skip{0};     // hand-overs left to pass without a spin
    std::atomic<std::uint32_t> m_penalty{0};  // the skip after the next spin that runs out
  };

  bool IsOpenLocked(int node) const { return node != 0 && node == m_state.openNode; }
  bool ReceiverExpectedLocked() const { return m_state.openNode != 0 && m_state.connected && !m_state.logOnly; }
  // The next timer event one period after `fromMs`, none if the timer is off.
  void StartTimerLocked(std::int64_t fromMs) {
    m_state.nextTimerMs = m_state.timerPeriodMs > 0 ? fromMs + m_state.timerPeriodMs : -1;
  }
  DriverCall& LogLocked(const char* name, int node, std::string arguments);
  void ScheduleReplyLocked(SimReply reply);
  SimReply ReplyLocked(int kind, std::uint16_t unit, std::vector<std::uint8_t> bytes = {}) const;
  // Sends `reply` now if a node is connected; the network's own replies
  // get its header in bytes 0-15.
  void ProduceLocked(SimReply reply, bool stampHeader = true);
  SimReply StatusReplyLocked(std::uint16_t unit) const;
  SimReply EventReplyLocked(std::uint16_t unit, std::uint32_t code) const;
  void ApplyDirectLocked(WORD unit, const std::uint8_t* command);
  void DisconnectLocked();
  // The common body of the driver functions: catch up, log, check the
  // handle, act, and acknowledge with a reply of `ackKind` (0: none).
  template <class Act>
  int Handle(const char* name, int node, std::string arguments, int ackKind, Act act);

  std::condition_variable m_replyCv;  // receivers wait here
  // Changed, under the lock, at every notification of m_replyCv and of
  // m_idleCv when the network is idle: a side that spins watches them.
  std::atomic<std::uint32_t> m_replySignal{0};
  std::atomic<std::uint32_t> m_idleSignal{0};
  int m_receiversWaiting = 0;  // receivers waiting on m_replyCv
  SpinGate m_sleeperGate;
  SpinGate m_receiverGate;
  bool m_bSleepHandedOver = false;  // a receiver moves the clock on once idle
  State m_state;
  std::uint64_t m_nGeneration = 1;    // changes at every reset
};

}  // namespace sim
