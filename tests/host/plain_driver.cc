// A network driver library of the tests' own, standing for a real one: it
// knows nothing of the simulators and finds no network card, so every
// open fails. At each open it copies the list of what the process has
// mapped (/proc/self/maps) to the file named by QUARN_PLAIN_DRIVER_MAPS,
// so that a test can see which libraries the program loaded.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/vexlink/vexlink.h"

extern "C" {

int VEXLINKAPI LC_NodeOpen(const char*, int) {
  if (const char* to = std::getenv("QUARN_PLAIN_DRIVER_MAPS")) {
    std::ifstream maps("/proc/self/maps");
    std::ofstream(to) << maps.rdbuf();
  }
  return -1;
}
int VEXLINKAPI LC_NodeClose(int) { return -1; }
int VEXLINKAPI LC_HardReset(int) { return -1; }
int VEXLINKAPI LC_NodeConnect(int, int) { return -1; }
int VEXLINKAPI LC_UnitConfig(int, WORD, int) { return -1; }
int VEXLINKAPI LC_Inquiry(int, WORD) { return -1; }
int VEXLINKAPI LC_ActivateKernelThread(int) { return -1; }
int VEXLINKAPI LC_DeactivateKernelThread(int) { return -1; }
int VEXLINKAPI LC_PushAnlsFile(int, const void*, const void*, const void*) { return -1; }
int VEXLINKAPI LC_UnitStatus(int, WORD) { return -1; }
int VEXLINKAPI LC_UnitDirect(int, WORD, const void*) { return -1; }
int VEXLINKAPI LC_PumpStart(int) { return -1; }
int VEXLINKAPI LC_PumpStop(int) { return -1; }
int VEXLINKAPI LC_Stop(int) { return -1; }
int VEXLINKAPI LC_Reset(int) { return -1; }
int VEXLINKAPI LC_ResetRun(int) { return -1; }
int VEXLINKAPI LC_TroubleClear(int) { return -1; }
int VEXLINKAPI LC_XRecvFrom(int, void*, DWORD*) { return 0; }

}  // extern "C"
