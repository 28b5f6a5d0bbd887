// A host that switches the pump on again during a run whose timetable
// stopped the flow: the one path on which the plug-in sets the pump's flow
// on the server directly (SetFlow, then SendSettings). The host program
// never takes it; the server-program test runs this probe with the server
// in its own program, so that those calls cross the boundary too.
//
//   pump_restart_probe METHODS_FOLDER METHOD TRACE_FILE
// On the server transport, in virtual time: opens the pump and the
// autosampler, loads METHOD, starts a sample from vial 1, and once the
// flow reads 0 with the run going switches the pump on. The server's calls go to TRACE_FILE. Exit code 0 when the
// pump was switched on with the run going, 1 otherwise, 2 for bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_pump.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/win/registry.h"
#include "sim/control.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: pump_restart_probe METHODS_FOLDER METHOD TRACE_FILE\n");
    return 2;
  }
  OleInitialize(nullptr);
  _putenv_s("QUARN_METHODS_DIR", argv[1]);
  platform::Clock::Get().UseVirtual();
  const auto [key, name] = platform::SplitValuePath(std::string(kHostFrameworkKey) + "\\" + kQuarnInletKey + "\\" +
                                                    kTransportFlagName);
  platform::Registry::Get().HoldForProcess(HKEY_LOCAL_MACHINE, key, name, std::uint32_t{1});
  sim::Control* simulator = QuarnSimulatorControl();
  if (!simulator) return 1;
  std::ofstream trace(argv[3]);
  simulator->TraceServer([&trace](const std::string& line) { trace << line << '\n' << std::flush; });
  simulator->RegisterServer();
  bool restarted = false;
  {
    CQuarnControlPump pump;
    CQuarnControlAutoSampler sampler;
    const CString method(argv[2]);
    if (pump.InitialiseComms() && sampler.InitialiseComms() && pump.LoadMethod(method) &&
        sampler.LoadMethod(method) && sampler.StartMethod(method, CString("1"), 2.0f)) {
      for (int poll = 0; poll < 120 && !restarted; ++poll) {
        platform::Clock::Get().SleepMs(1000);
        CInletSystemStatus status;
        pump.ReadStatus(status);
        const bool running = pump.MethodRunning() != 0;
        if (running && poll > 5 && status.GetFlow() == 0.0f) restarted = pump.SwitchPump(On) != 0;
      }
      pump.StopMethod();
    }
    pump.CloseDownComms();
    sampler.CloseDownComms();
  }
  simulator->Disconnect();
  std::printf("%s\n", restarted ? "the pump was switched on again in the run" : "the pump was not switched on again");
  return restarted ? 0 : 1;
}
