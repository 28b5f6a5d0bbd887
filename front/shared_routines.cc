#include "front/shared_routines.h"

#include <algorithm>
#include <cstring>

#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"

namespace {

// Built at load, before any front is constructed, and kept until unload.
const CString g_strInletKey("Inlets\\InletKernel\\QuarnControl");

CString NetBoxCommsPath() { return InletRegistryKey() + "\\Configuration\\NetBoxComms"; }

char g_szCommsMessage[512];

}  // namespace

const CString& InletRegistryKey() { return g_strInletKey; }

int ReadNetBoxCommsFlag() {
  const CString path = NetBoxCommsPath();
  int value = 0;
  if (!ReadRegistryPath(path, value, HKEY_LOCAL_MACHINE)) {
    value = 0;
    WriteNetBoxCommsFlag(0);
  }
  return value;
}

void WriteNetBoxCommsFlag(int value) { WriteRegistryPath(NetBoxCommsPath(), value, HKEY_LOCAL_MACHINE); }

const char* SendUnitCommsMessage(const char* unit, const char* text) {
  const char* prefix = "";
  if (unit) {
    if (std::strcmp(unit, "PUMP") == 0) {
      prefix = "Quarn PUMP Communications.\n\n";
    } else if (std::strcmp(unit, "AUTOSAMPLER") == 0) {
      prefix = "Quarn AUTOSAMPLER Communications.\n\n";
    } else if (std::strcmp(unit, "PDA") == 0) {
      prefix = "Quarn PDA Detector Communications.\n\n";
    } else if (std::strcmp(unit, "UV") == 0) {
      prefix = "Quarn UV Detector Communications.\n\n";
    }
  }
  const CString message = CString(prefix) + text;
  SendMessageBox(message, 0x30);
  std::memset(g_szCommsMessage, 0, sizeof g_szCommsMessage);
  const size_t n = std::min(static_cast<size_t>(message.GetLength()), sizeof g_szCommsMessage - 1);
  std::memcpy(g_szCommsMessage, message.GetString(), n);
  return g_szCommsMessage;
}

int ReadMethodFile(QuarnMethod& method, const CString& methodName) {
  CString name = methodName;
  AddMethodFileExtension("Quarn900", name);
  return method.GetMethodFromDiskFile(name) != 0 ? 1 : 0;
}
