#include "platform/inlet/inlet.h"

#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock/clock.h"

namespace {

// A damaged registry file is shown once per distinct problem, so that a
// flag read by three device constructors does not show three boxes.
void ReportRegistryProblem(const platform::RegistryError& error) {
  static std::mutex mutex;
  static std::string lastShown;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (lastShown == error.what()) return;
    lastShown = error.what();
  }
  SendMessageBox(CString("QuarnControl settings: ") + error.what(), MB_ICONEXCLAMATION);
}

std::string HostKeyPath(const CString& path) { return std::string(kHostFrameworkKey) + "\\" + path.str(); }

template <class T>
int ReadValue(const std::string& fullPath, T& value, HKEY root) {
  const auto [key, name] = platform::SplitValuePath(fullPath);
  try {
    const auto read = platform::Registry::Get().Read(root, key, name);
    if (!read) return 0;
    // A value of the other type is reported and read as absent; it is
    // never replaced by a default (see Registry::Write).
    if constexpr (std::is_same_v<T, int>) {
      const auto* dword = std::get_if<std::uint32_t>(&*read);
      if (!dword) throw platform::RegistryError(platform::Registry::Get().TypeMismatch(root, key, name, *read));
      value = static_cast<int>(*dword);
    } else {
      const auto* text = std::get_if<std::string>(&*read);
      if (!text) throw platform::RegistryError(platform::Registry::Get().TypeMismatch(root, key, name, *read));
      value = CString(*text);
    }
    return 1;
  } catch (const platform::RegistryError& error) {
    ReportRegistryProblem(error);
    return 0;
  }
}

template <class T>
int WriteValue(const std::string& fullPath, const T& value, HKEY root) {
  const auto [key, name] = platform::SplitValuePath(fullPath);
  try {
    if constexpr (std::is_same_v<T, int>) {
      platform::Registry::Get().Write(root, key, name, static_cast<std::uint32_t>(value));
    } else {
      platform::Registry::Get().Write(root, key, name, value.str());
    }
    return 1;
  } catch (const platform::RegistryError& error) {
    ReportRegistryProblem(error);
    return 0;
  }
}

int g_vialFirst = 1;
int g_vialLast = 10000;

}  // namespace

int ReadRegistryPath(const CString& path, int& value, HKEY root) { return ReadValue(HostKeyPath(path), value, root); }
int ReadRegistryPath(const CString& path, CString& value, HKEY root) {
  return ReadValue(HostKeyPath(path), value, root);
}
int WriteRegistryPath(const CString& path, int value, HKEY root) { return WriteValue(HostKeyPath(path), value, root); }
int WriteRegistryPath(const CString& path, const CString& value, HKEY root) {
  return WriteValue(HostKeyPath(path), value, root);
}
int ReadRegistryFullPath(const CString& fullPath, CString& value, HKEY root) {
  return ReadValue(fullPath.str(), value, root);
}
int ReadRegistryFullPath(const CString& fullPath, int& value, HKEY root) {
  return ReadValue(fullPath.str(), value, root);
}
int WriteRegistryFullPath(const CString& fullPath, const CString& value, HKEY root) {
  return WriteValue(fullPath.str(), value, root);
}
int WriteRegistryFullPath(const CString& fullPath, int value, HKEY root) {
  return WriteValue(fullPath.str(), value, root);
}

void RegSetInstrumentMake(const char* device, const CString& make) {
  WriteRegistryPath(CString(kInstrumentMakesKey) + "\\" + (device ? device : ""), make, HKEY_LOCAL_MACHINE);
}

CString RegGetInstrumentMake(const char* device) {
  CString make;
  if (!ReadRegistryPath(CString(kInstrumentMakesKey) + "\\" + (device ? device : ""), make, HKEY_LOCAL_MACHINE)) {
    make.Empty();
  }
  return make;
}

CString GetKorvatecWorkingDir() {
  if (const char* env = std::getenv("QUARN_WORKING_DIR"); env && *env) return CString(env);
  std::error_code ec;
  return CString(std::filesystem::current_path(ec).string());
}

CString GetMethodsDir() {
  if (const char* env = std::getenv("QUARN_METHODS_DIR"); env && *env) return CString(env);
  return CString((std::filesystem::path(GetKorvatecWorkingDir().str()) / "methods").string());
}

void AddMethodFileExtension(const char* methodType, CString& name) {
  std::string file = name.str();
  const auto endsWithToml = [&file] {
    static constexpr std::string_view kToml = ".toml";
    if (file.size() < kToml.size()) return false;
    for (size_t i = 0; i < kToml.size(); ++i) {
      const char c = file[file.size() - kToml.size() + i];
      if (std::tolower(static_cast<unsigned char>(c)) != kToml[i]) return false;
    }
    return true;
  };
  if (!endsWithToml()) {
    std::string type;
    for (const char* c = methodType ? methodType : ""; *c; ++c) {
      type += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    file += (type.empty() ? "" : "." + type) + ".toml";
  }
  if (file.find_first_of("/\\") == std::string::npos) {
    file = (std::filesystem::path(GetMethodsDir().str()) / file).string();
  }
  name = CString(std::string_view(file));
}

int SendMessageBox(const CString& text, UINT style) { return platform::CurrentHostUi().MessageBox(text, style); }

void FlashStatusText(const char* prefix, const char* text, int on) {
  platform::CurrentHostUi().FlashStatusText(prefix, text, on);
}

Progress::Progress(const char* text) { platform::CurrentHostUi().ProgressOpen(CString(text)); }
Progress::~Progress() { platform::CurrentHostUi().ProgressClose(); }
void Progress::SetProgress(int percent, const char* text) { platform::CurrentHostUi().ProgressStep(percent, text); }

void Pause(int milliseconds, int /*flag*/) { platform::Clock::Get().SleepMs(milliseconds); }

void SetVialRange(int first, int last) {
  g_vialFirst = first;
  g_vialLast = last;
}

void GetVialRange(int& first, int& last) {
  first = g_vialFirst;
  last = g_vialLast;
}

CStringF CStringF::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CStringF result;
  result.FormatV(format, args);
  va_end(args);
  return result;
}

BOOL CCommunicationsException::GetErrorMessage(char* buffer, UINT maxLength, UINT* helpContext) const {
  if (helpContext) *helpContext = 0;
  if (!buffer || maxLength == 0) return FALSE;
  const size_t n = std::min<size_t>(static_cast<size_t>(m_strText.GetLength()), maxLength - 1);
  std::memcpy(buffer, m_strText.GetString(), n);
  buffer[n] = '\0';
  return m_strText.IsEmpty() ? FALSE : TRUE;
}

void ThrowCCommunicationsException(int code, const CString& text) { throw CCommunicationsException(code, text); }
