#include "network/vexlink_session.h"

#include "network/download_state.h"
#include "network/reply_decoder.h"
#include "network/wire_trace.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/vexlink/reply_formats.h"
#include "platform/vexlink/vexlink.h"

constinit VexlinkSession g_vexlinkSession;

namespace {

constexpr const char* kCannotOpen = "Unable to open the Quarn driver";
constexpr UINT kExclamationStyle = 48;
constexpr crt::clock_t kAutosamplerWaitMs = 60000;

// The units declared present at every open; the autosampler follows them.
constexpr WORD kConfiguredUnits[] = {kUnitPump1, kUnitPump2, kUnitPump3, kUnitUV, kUnitOven};

void StartReceivingThread() {
  if (g_vexlinkSession.m_dwThreadId.Load() != 0) return;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, VexlinkReceivingThread, nullptr, 0, &id);
  g_vexlinkSession.m_dwThreadId.Store(id);
  CloseHandle(thread);  // the thread lives on; its handle is not kept
}

// Waits, one pause at a time, until the autosampler has reported ready
// or 60 s have passed.
void WaitForAutosampler() {
  const crt::clock_t t0 = crt::clock();
  for (;;) {
    Pause(1000, 1);
    if (g_vexlinkSession.m_nSamplerReady.Load() != 0) return;
    if (crt::clock() - t0 >= kAutosamplerWaitMs) return;
  }
}

}  // namespace

void VexlinkSession::ResetForTesting() {
  m_hNode.Store(0);
  m_nNotOpen.Store(1);
  m_nSamplerPresent.Store(0);
  m_nSamplerReady.Store(0);
  m_nLoopCount.Store(0);
}

int VexlinkSessionOpen() {
  FollowWireTraceEnvironment();
  VexlinkSession& session = g_vexlinkSession;
  if (session.m_hNode.Load() == 0) session.m_hNode.Store(LC_NodeOpen(kVexlinkDevicePath, 0));
  LC_HardReset(session.m_hNode.Load());
  Pause(1000, 1);

  if (session.m_hNode.Load() == -1) {
    Trace("Bad handle value. Could not open driver.\n", 0);
    SendMessageBox(kCannotOpen, kExclamationStyle);
    session.m_nNotOpen.Store(1);
    ThrowCCommunicationsException(0, kCannotOpen);
  }

  session.m_nNotOpen.Store(0);
  StartReceivingThread();
  TraceF(0, "hThread=0x%x\n", session.m_dwThreadId.Load());

  const int node = session.m_hNode.Load();
  LC_NodeConnect(node, 0);
  for (WORD unit : kConfiguredUnits) LC_UnitConfig(node, unit, 1);
  LC_UnitConfig(node, kUnitAutosampler, session.m_nSamplerPresent.Load() ? 1 : 0);

  WaitForAutosampler();
  LC_Inquiry(node, kUnitNode);
  LC_Inquiry(node, kUnitAutosampler);
  if (session.m_nSamplerReady.Load()) {
    Trace("Autosampler ready!\n", 1);
  } else {
    Trace("Warning: Autosampler not ready!\n", 1);
  }

  BuildSessionAnlsFile();
  LC_ActivateKernelThread(node);
  DownloadRecords& records = g_downloadRecords;
  LC_PushAnlsFile(node, records.m_runHeader.Data(), records.m_anlsFile.Data(), records.m_transferControl.Data());
  return 1;
}

void VexlinkSessionClose() {
  VexlinkSession& session = g_vexlinkSession;
  if (session.m_nNotOpen.Load() == 0) LC_DeactivateKernelThread(session.m_hNode.Load());
  LC_NodeClose(session.m_hNode.Load());
  session.m_hNode.Store(0);
}

DWORD WINAPI VexlinkReceivingThread(LPVOID) {
  VexlinkSession& session = g_vexlinkSession;
  SetWireTraceThreadName("recv");
  session.m_nLoopCount.Store(session.m_nLoopCount.Load() + 1);
  Trace(" ***** Receiving thread starting.....\n", 1);

  // Reused for every reply.
  alignas(4) BYTE buffer[LC_REPLY_BUFFER_SIZE];
  for (;;) {
    const int node = session.m_hNode.Load();
    DWORD sender = 0;
    const int kind = LC_XRecvFrom(node, buffer, &sender);
    DispatchReply(kind, buffer, static_cast<WORD>(sender & 0xFFFF));
    session.m_nLoopCount.Store(session.m_nLoopCount.Load() + 1);
  }
}
