// Routines the fronts and back-ends share: the transport flag, the unit
// communications message and method reading.
//
// Contract:
//  - The inlet key is "Inlets\InletKernel\QuarnControl"; the transport flag
//    is the value "Configuration\NetBoxComms" under it (a DWORD; any
//    non-zero value selects the server-mediated family). It is read afresh
//    at every call; a missing or unreadable value reads as 0 and 0 is
//    written back.
//  - SendUnitCommsMessage shows the unit-prefixed text in a warning
//    message box and returns it from one static 512-byte buffer (at most
//    511 bytes kept), valid until the next call.
//  - ReadMethodFile completes the method name with the extension of the
//    "Quarn900" method type (AddMethodFileExtension, which also decides the
//    folder) and reads that file into `method`: 1 on success; 0 when the
//    file is missing or broken, in which case the method library has shown
//    the user why and `method` is as it was.
// Thread safety: host's thread only (the message buffer is shared).
#pragma once

#include "platform/mfc/cstring.h"

class QuarnMethod;

// The inlet registry key, built before any front exists.
const CString& InletRegistryKey();

int ReadNetBoxCommsFlag();
void WriteNetBoxCommsFlag(int value);

const char* SendUnitCommsMessage(const char* unit, const char* text);

int ReadMethodFile(QuarnMethod& method, const CString& methodName);
