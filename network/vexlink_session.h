// The direct path's one session with the instrument network: the node
// handle of the driver library, the receiving thread and a few flags.
//
// Ownership: the direct pump back-end opens the session in its
// InitialiseComms (VexlinkSessionOpen) and closes it in its destructor
// (VexlinkSessionClose); the autosampler and UV back-ends only use it.
// The receiving thread is created by the first open that gets a handle
// and then lives as long as the process: it reads the node handle afresh
// on every pass, so after a close and a new open the same thread serves
// the new node. Between a close and the next open it waits inside the
// driver, which returns once a node is open again (platform/vexlink).
//
// Thread safety: every field is one 32-bit word read and written whole
// without a lock (SharedWord). The receiving thread writes the
// sampler-ready flag and the loop counter and reads the node handle; the
// host's thread owns every other write.
#pragma once

#include <cstdint>

#include "network/shared_word.h"
#include "platform/win/windows.h"

class VexlinkSession {
 public:
  constexpr VexlinkSession() = default;
  VexlinkSession(const VexlinkSession&) = delete;
  VexlinkSession& operator=(const VexlinkSession&) = delete;

  // 0: no node; -1: the last open failed; otherwise the driver's handle.
  SharedWord<std::int32_t> m_hNode{0};
  // 1 until an open succeeds, 0 after; 1 again when an open fails.
  SharedWord<std::int32_t> m_nNotOpen{1};
  // Non-zero once the receiving thread exists; it is never created twice.
  SharedWord<std::uint32_t> m_dwThreadId{0};
  // 1 while a direct autosampler back-end exists.
  SharedWord<std::int32_t> m_nSamplerPresent{0};
  // Set by the receiving thread on TEST_UNIT_READY; never cleared.
  SharedWord<std::int32_t> m_nSamplerReady{0};
  // The receiving thread's passes; used only in the trace.
  SharedWord<std::int32_t> m_nLoopCount{0};

  // Back to the state at load, except the thread id: the receiving thread
  // still exists and serves whatever handle the next open stores. Tests
  // only, on the host's thread.
  void ResetForTesting();
};

extern VexlinkSession g_vexlinkSession;

// The open, as the direct pump back-end's InitialiseComms: returns 1, or
// shows "Unable to open the Quarn driver" and raises it as a
// CCommunicationsException when the driver cannot be opened.
// Host's thread; blocks for at least 2 s and at most about 61 s of clock time.
int VexlinkSessionOpen();

// The close, from the direct pump back-end's destructor.
void VexlinkSessionClose();

// The receiving thread's procedure; never returns.
DWORD WINAPI VexlinkReceivingThread(LPVOID parameter);
