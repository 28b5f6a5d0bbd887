#include "front/shared_routines.h"

#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"

namespace {

// Built at load, before any front is constructed, and kept until unload.
const CString g_strInletKey(kQuarnInletKey);

CString NetBoxCommsPath() { return InletRegistryKey() + "\\" + kTransportFlagName; }

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

int ReadMethodFile(QuarnMethod& method, const CString& methodName) {
  CString name = methodName;
  AddMethodFileExtension("Quarn900", name);
  return method.GetMethodFromDiskFile(name) != 0 ? 1 : 0;
}
