// The driver library's functions, answered by the simulated network.
#include "platform/vexlink/vexlink.h"
#include "sim/simulated_network.h"

namespace {
using Node = sim::SimulatedNetwork::NodeCommand;
sim::SimulatedNetwork& Network() { return sim::SimulatedNetwork::Get(); }
}  // namespace

extern "C" {

int VEXLINKAPI LC_NodeOpen(const char* devicePath, int mode) { return Network().NodeOpen(devicePath, mode); }
int VEXLINKAPI LC_NodeClose(int node) { return Network().Command(Node::kNodeClose, node); }
int VEXLINKAPI LC_HardReset(int node) { return Network().Command(Node::kHardReset, node); }
int VEXLINKAPI LC_NodeConnect(int node, int mode) { return Network().NodeConnect(node, mode); }
int VEXLINKAPI LC_UnitConfig(int node, WORD unit, int present) { return Network().UnitConfig(node, unit, present); }
int VEXLINKAPI LC_Inquiry(int node, WORD unit) { return Network().Inquiry(node, unit); }
int VEXLINKAPI LC_ActivateKernelThread(int node) { return Network().Command(Node::kActivateKernelThread, node); }
int VEXLINKAPI LC_DeactivateKernelThread(int node) { return Network().Command(Node::kDeactivateKernelThread, node); }
int VEXLINKAPI LC_PushAnlsFile(int node, const void* runHeader, const void* anlsFile, const void* transferControl) {
  return Network().PushAnlsFile(node, runHeader, anlsFile, transferControl);
}
int VEXLINKAPI LC_UnitStatus(int node, WORD unit) { return Network().UnitStatus(node, unit); }
int VEXLINKAPI LC_UnitDirect(int node, WORD unit, const void* command) {
  return Network().UnitDirect(node, unit, command);
}
int VEXLINKAPI LC_PumpStart(int node) { return Network().Command(Node::kPumpStart, node); }
int VEXLINKAPI LC_PumpStop(int node) { return Network().Command(Node::kPumpStop, node); }
int VEXLINKAPI LC_Stop(int node) { return Network().Command(Node::kStop, node); }
int VEXLINKAPI LC_Reset(int node) { return Network().Command(Node::kReset, node); }
int VEXLINKAPI LC_ResetRun(int node) { return Network().Command(Node::kResetRun, node); }
int VEXLINKAPI LC_TroubleClear(int node) { return Network().Command(Node::kTroubleClear, node); }
int VEXLINKAPI LC_XRecvFrom(int node, void* buffer, DWORD* sender) { return Network().XRecvFrom(node, buffer, sender); }

}  // extern "C"
