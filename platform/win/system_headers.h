// The Windows SDK headers, included one way everywhere on a Windows build.
//
// Contract: only on Windows. Brings in windows.h without the min/max macros
// (they break the standard library) and the rarely used parts, then COM
// and OLE Automation (objbase.h, oleauto.h, ocidl.h), so that every file
// sees the same set of system declarations whatever it includes first.
#pragma once

#if !defined(_WIN32)
#error "platform/win/system_headers.h is for Windows builds only"
#endif

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
