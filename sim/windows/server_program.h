// The simulated server in a program of its own (TavixServer.exe), as the
// real instrument server runs on Windows: a local COM server that the
// plug-in's CoCreateInstance starts, and that a host program's simulator
// control reaches through a private interface on the server's class
// object (IQuarnSimulatorControl, sim/windows/simulator_control.idl).
//
// The program's side: registration with the system's COM and serving.
// The host's side: ServerProgramControl(), the control face for the
// simulated server in that program, with this process's clock driving the
// program's.
//
// Windows only. Thread safety: as the control face.
#pragma once

#include <string>

#include "sim/control.h"

namespace sim {

// ---- The program's side ----
// Records the program at `path` in the system's registry as the server's
// local server: its class, AppID and the two type libraries it carries.
// Returns "" or what failed.
std::string RegisterServerProgram(const std::wstring& path);
// Removes what RegisterServerProgram recorded; "" or what failed.
std::string UnregisterServerProgram();
// Serves the plug-in's sessions and the host's control until no client
// holds anything of the server any more; the program's exit code.
int ServeServerProgram();

// ---- The host's side ----
// Whether the server's program is registered as the server's local server.
bool ServerProgramRegistered();
// Whether the server registered is another than the simulator's program:
// one whose registration carries no simulator control. Then no simulator
// answers for the instruments: they are real.
bool RealServerRegistered();
// The control for the simulated server in its own program, when it is
// registered and this process is not that program; null otherwise.
Control* ServerProgramControl();

}  // namespace sim
