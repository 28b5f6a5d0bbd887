// Every field of a status record as text, for golden files: a field the
// code under test sets wrongly, or forgets, shows as a changed line.
#pragma once

#include <sstream>
#include <string>

#include "contract/inlet_system_status.h"

namespace testing_support {

inline std::string StatusText(CInletSystemStatus s) {
  std::ostringstream out;
  out << "running " << s.GetRunning() << ", post-running " << s.GetPostRunning() << ", not ready " << s.GetNotReady()
      << ", error " << s.GetError() << ", wash " << s.GetWashOn() << ", injecting " << s.GetInjecting() << ", pump "
      << s.GetPumpOn() << ", lamp " << s.GetLamp() << ", scan " << s.GetDadScan() << ", acquiring "
      << s.DADAcquiring() << "\n  time " << s.GetTime() << " min, flow " << s.GetFlow() << ", A/B/C/D "
      << s.GetPercentA() << "/" << s.GetPercentB() << "/" << s.GetPercentC() << "/" << s.GetPercentD()
      << " %, pressure " << s.GetLowPressure() << " to " << s.GetHighPressure() << ", temperatures "
      << s.GetTemperatureLeft() << "/" << s.GetTemperatureRight() << "/" << s.SampleTemperature()
      << "\n  not ready '" << s.GetNotReadyInfo().str() << "', error '" << s.GetErrorInfo().str() << "', status '"
      << s.GetStatusInfo().str() << "', stop '" << s.GetStopText().str() << "'\n";
  return out.str();
}

}  // namespace testing_support
