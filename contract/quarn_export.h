// QUARN_EXPORT marks what the plug-in library exports to its host: the
// device classes, the status record and the few names a host must reach
// (front/QuarnControl.exports lists them). Everything else of the library
// is hidden, so a host can depend on nothing but the contract.
//
// On Windows the library's own build marks them for export; a host reaches
// them through the library's import library. Elsewhere they keep default
// visibility in a library built with hidden visibility.
#pragma once

#if defined(_WIN32)
#if defined(QUARNCONTROL_BUILDING_LIBRARY)
#define QUARN_EXPORT __declspec(dllexport)
#else
#define QUARN_EXPORT
#endif
#else
#define QUARN_EXPORT __attribute__((visibility("default")))
#endif
