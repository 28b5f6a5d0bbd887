// Basic Windows types used by the product's signatures.
//
// Contract: the same names and widths as the 32-bit Windows SDK, so code
// written against them reads and behaves as it does on the real platform.
// Header-only; no state; safe from any thread.
#pragma once

#if defined(_WIN32)
// Windows: the system's own declarations.
#include "platform/win/system_headers.h"
#else
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPDWORD = DWORD*;

struct HWND__;
using HWND = HWND__*;
// A loaded module: the address at which the system mapped it.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#endif
