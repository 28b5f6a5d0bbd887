// The class framework's connection-point helpers.
//
// Contract (as the framework declares them): AfxConnectionAdvise finds the
// connection point for `iid` on `pUnkSrc` (through its
// IConnectionPointContainer) and advises `pUnkSink`, storing the cookie.
// With `bRefCount` FALSE the connection holds no reference to the sink:
// the reference the connection point took is given back at once, and
// AfxConnectionUnadvise adds one before unadvising. Both return TRUE on
// success.
// Thread safety: as the source object's.
#pragma once

#include "platform/com/com.h"

BOOL AfxConnectionAdvise(LPUNKNOWN pUnkSrc, REFIID iid, LPUNKNOWN pUnkSink, BOOL bRefCount, DWORD* pdwCookie);
BOOL AfxConnectionUnadvise(LPUNKNOWN pUnkSrc, REFIID iid, LPUNKNOWN pUnkSink, BOOL bRefCount, DWORD dwCookie);
