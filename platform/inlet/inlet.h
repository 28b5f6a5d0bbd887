// The host framework's inlet utility library, as the plug-in calls it.
//
// Contract:
//  - Registry: ReadRegistryPath/WriteRegistryPath take a path relative to
//    the host framework's key "SOFTWARE\Korvatec"; the *FullPath forms take
//    a path from the root. In both, the last path component names the
//    value. Reads return non-zero when the value exists with the right
//    type; writes return non-zero on success. A damaged registry file is
//    reported once through a message box and never replaced.
//  - Message boxes, progress displays and flashing status texts go to the
//    host-UI sink (platform/inlet/host_ui.h).
//  - Pause waits on the one clock.
//  - CCommunicationsException carries a code and a text; it is thrown by
//    value and caught by reference.
// Thread safety: host's thread only, except Pause (any thread).
#pragma once

#include "platform/inlet/generic_exp_record.h"
#include "platform/inlet/host_ui.h"
#include "platform/mfc/afxwin.h"
#include "platform/win/registry.h"

#if !defined(_WIN32)  // Windows: the system's values (winuser.h)
// Message box styles.
inline constexpr UINT MB_OK = 0x00;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr int IDOK = 1;
#endif

// ---- Registry ----
int ReadRegistryPath(const CString& path, int& value, HKEY root);
int ReadRegistryPath(const CString& path, CString& value, HKEY root);
int WriteRegistryPath(const CString& path, int value, HKEY root);
int WriteRegistryPath(const CString& path, const CString& value, HKEY root);
int ReadRegistryFullPath(const CString& fullPath, CString& value, HKEY root);
int ReadRegistryFullPath(const CString& fullPath, int& value, HKEY root);
int WriteRegistryFullPath(const CString& fullPath, const CString& value, HKEY root);
int WriteRegistryFullPath(const CString& fullPath, int value, HKEY root);

// The host framework's own key, under which ReadRegistryPath looks.
inline constexpr const char* kHostFrameworkKey = "SOFTWARE\\Korvatec";
// Under it: where the framework records each instrument's make (a value
// per device, "OVEN"), this plug-in's own key, and below that the flag
// that chooses how the devices reach the instruments.
inline constexpr const char* kInstrumentMakesKey = "Instruments\\Makes";
inline constexpr const char* kQuarnInletKey = "Inlets\\InletKernel\\QuarnControl";
inline constexpr const char* kTransportFlagName = "Configuration\\NetBoxComms";

// The device whose make a method with the oven records.
inline constexpr const char* kOvenDevice = "OVEN";

// Records the make of an instrument of the host's configuration (kOvenDevice).
void RegSetInstrumentMake(const char* device, const CString& make);
// The make recorded for `device`, empty when none.
CString RegGetInstrumentMake(const char* device);

// The host data system's working folder, without a trailing separator.
CString GetKorvatecWorkingDir();

// ---- Method files ----
// The folder where method names without a folder are looked up: the
// environment variable QUARN_METHODS_DIR when set, else "methods" in the
// working folder.
CString GetMethodsDir();
// Completes a method name into the path of its file. The extension of the
// method type ("." + the type in lower case + ".toml", so ".quarn900.toml"
// for "Quarn900") is appended unless the name already ends in ".toml" (in
// any case). A name without a folder separator ('/' or '\\') is placed in
// GetMethodsDir(); a name with one is a path, used as given.
void AddMethodFileExtension(const char* methodType, CString& name);

// ---- User interface ----
int SendMessageBox(const CString& text, UINT style);
void FlashStatusText(const char* prefix, const char* text, int on);

// A progress display, open for the object's lifetime.
class Progress {
 public:
  explicit Progress(const char* text);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // Steps to `percent`; a null text keeps the current one.
  void SetProgress(int percent, const char* text);
};

// Waits `milliseconds` of clock time. `flag` is the library's
// keep-the-interface-alive flag; the stand-in has no interface to pump.
void Pause(int milliseconds, int flag);

// The vials the host accepts, set by the autosampler base class.
void SetVialRange(int first, int last);
void GetVialRange(int& first, int& last);

// ---- Text ----
class CStringF : public CString {
 public:
  using CString::CString;
  // A new string formatted printf-style.
  static CStringF Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
};

// ---- Exceptions ----
class CCommunicationsException : public CObject {
 public:
  CCommunicationsException() = default;
  CCommunicationsException(int code, const CString& text) : m_nCode(code), m_strText(text) {}

  void SetText(const CString& text) { m_strText = text; }
  int GetCode() const { return m_nCode; }
  // The text.
  CString GetErrorMessage() const { return m_strText; }
  // The framework's form: copies the text into `buffer` (cut to fit,
  // always NUL-terminated); returns TRUE when there is a text.
  BOOL GetErrorMessage(char* buffer, UINT maxLength, UINT* helpContext = nullptr) const;

 private:
  int m_nCode = 0;
  CString m_strText;
};

[[noreturn]] void ThrowCCommunicationsException(int code, const CString& text);
