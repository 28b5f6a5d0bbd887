// Routines the fronts share: the inlet key, the transport flag and method
// reading. (The unit communications message the back-ends show is in
// backend/unit_comms_message.h.)
//
// Contract:
//  - The inlet key is "Inlets\InletKernel\QuarnControl"; the transport flag
//    is the value "Configuration\NetBoxComms" under it (a DWORD; any
//    non-zero value selects the server-mediated family). It is read afresh
//    at every call; a missing or unreadable value reads as 0 and 0 is
//    written back.
//  - ReadMethodFile completes the method name with the extension of the
//    "Quarn900" method type (AddMethodFileExtension, which also decides the
//    folder) and reads that file into `method`: 1 on success; 0 when the
//    file is missing or broken, in which case the method library has shown
//    the user why and `method` is as it was.
// Thread safety: host's thread only.
#pragma once

#include "platform/mfc/cstring.h"

class QuarnMethod;

// The inlet registry key, built before any front exists.
const CString& InletRegistryKey();

int ReadNetBoxCommsFlag();
void WriteNetBoxCommsFlag(int value);

int ReadMethodFile(QuarnMethod& method, const CString& methodName);
