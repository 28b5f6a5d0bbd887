// The network driver library (vexlink32), as the plug-in calls it.
//
// Contract:
//  - Every function takes the node handle first. LC_NodeOpen returns a
//    handle (-1 when the driver cannot be opened); LC_XRecvFrom returns
//    the kind of the reply it delivers. Every other result is a status the
//    plug-in does not examine.
//  - A unit address is unit kind x 256 + unit number: 0x0000 the node's
//    own card, 0x0101..0x0103 pumps, 0x0401 UV detector, 0x0501
//    autosampler, 0x0601 column oven.
//  - Records pass as byte buffers of the sizes below, every number
//    little-endian. The library copies what it is given before returning.
//    Their layouts are in platform/vexlink/download_records.h (what goes
//    down) and platform/vexlink/reply_formats.h (what comes back).
//  - LC_XRecvFrom waits until a reply for the node is there, copies it into
//    the caller's LC_REPLY_BUFFER_SIZE-byte buffer and the sender into
//    *sender (low 16 bits: the unit address). Called with a handle that is
//    not the open node it returns 0 (no reply) at once if a node is open,
//    else it waits until one is opened and then returns 0, so a caller
//    that reads its handle afresh on every call follows a close and a new
//    open without spinning.
// Thread safety: the library may be called from several threads at once;
// one thread typically waits in LC_XRecvFrom while another sends.
#pragma once

#include "platform/mfc/windef.h"

#if defined(_WIN32)
#define VEXLINKAPI __stdcall
#else
#define VEXLINKAPI
#endif

// The node's device path, as LC_NodeOpen takes it.
inline constexpr const char* kVexlinkDevicePath = "\\\\.\\Vexlink2";

// Record sizes in bytes.
inline constexpr unsigned LC_REPLY_BUFFER_SIZE = 4096;
inline constexpr unsigned LC_ANLS_FILE_SIZE = 4368;
inline constexpr unsigned LC_RUN_HEADER_SIZE = 64;
inline constexpr unsigned LC_TRANSFER_CONTROL_SIZE = 6;
inline constexpr unsigned LC_DIRECT_COMMAND_SIZE = 16;

extern "C" {

int VEXLINKAPI LC_NodeOpen(const char* devicePath, int mode);
int VEXLINKAPI LC_NodeClose(int node);
int VEXLINKAPI LC_HardReset(int node);
int VEXLINKAPI LC_NodeConnect(int node, int mode);
int VEXLINKAPI LC_UnitConfig(int node, WORD unit, int present);
int VEXLINKAPI LC_Inquiry(int node, WORD unit);
int VEXLINKAPI LC_ActivateKernelThread(int node);
int VEXLINKAPI LC_DeactivateKernelThread(int node);

// runHeader: LC_RUN_HEADER_SIZE bytes; anlsFile: LC_ANLS_FILE_SIZE bytes;
// transferControl: LC_TRANSFER_CONTROL_SIZE bytes.
int VEXLINKAPI LC_PushAnlsFile(int node, const void* runHeader, const void* anlsFile, const void* transferControl);

int VEXLINKAPI LC_UnitStatus(int node, WORD unit);
// command: LC_DIRECT_COMMAND_SIZE bytes (eight 16-bit words).
int VEXLINKAPI LC_UnitDirect(int node, WORD unit, const void* command);

int VEXLINKAPI LC_PumpStart(int node);
int VEXLINKAPI LC_PumpStop(int node);
int VEXLINKAPI LC_Stop(int node);
int VEXLINKAPI LC_Reset(int node);
int VEXLINKAPI LC_ResetRun(int node);
int VEXLINKAPI LC_TroubleClear(int node);

// buffer: LC_REPLY_BUFFER_SIZE bytes. Returns the reply kind, 0 for none.
int VEXLINKAPI LC_XRecvFrom(int node, void* buffer, DWORD* sender);

}  // extern "C"
