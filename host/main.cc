// quarn-host: the stand-in for the mass-spectrometry host.
//
// For now it shows what the plug-in's host contract gives the host: a
// status record, its merge with another device's reading, the pump's
// solvent monitor document, and the transport flag the fronts will read.
#include <cstdio>

#include "contract/inlet_devices.h"
#include "front/shared_routines.h"
#include "platform/win/registry.h"

namespace {

// A pump as the host sees it before any back-end exists: only the
// contract's own operations are used here.
class ContractOnlyPump final : public CPump {
 public:
  using CPump::LoadMethod;
  using CPump::StartMethod;
  using CPump::WriteExpRecord;
  int ReadStatus(CInletSystemStatus&) override { return 0; }
  int SwitchPump(Switch) override { return 0; }
  int StartMethod() override { return 0; }
  int StartMethod(const CString&) override { return 0; }
  int StopMethod() override { return 0; }
  int GetMethodLength(const CString&, float&) override { return 0; }
  int PumpOn() override { return 0; }
  int MethodRunning() override { return 0; }
  int PostRunning() override { return 0; }
  int NotReady(CString&) override { return 1; }
  int Error(CString&) override { return 1; }
};

void PrintRecord(const char* title, CInletSystemStatus& s) {
  std::printf("%s\n", title);
  std::printf("  running %d  post-running %d  not-ready %d  error %d  pump-on %d  lamp %d\n", s.GetRunning(),
              s.GetPostRunning(), s.GetNotReady(), s.GetError(), s.GetPumpOn(), s.GetLamp());
  std::printf("  time %.3f min  flow %.3f ml/min  pressure %.1f bar  oven %.1f C\n",
              static_cast<double>(s.GetTime()), static_cast<double>(s.GetFlow()),
              static_cast<double>(s.GetHighPressure()), static_cast<double>(s.GetTemperatureLeft()));
  std::printf("  %%A %.1f  %%B %.1f  %%C %.1f  %%D %.1f\n", static_cast<double>(s.GetPercentA()),
              static_cast<double>(s.GetPercentB()), static_cast<double>(s.GetPercentC()),
              static_cast<double>(s.GetPercentD()));
  if (s.GetNotReady()) std::printf("  not ready: %s\n", s.GetNotReadyInfo().GetString());
}

}  // namespace

int main() {
  std::printf("QuarnControl host contract demonstration\n\n");

  CInletSystemStatus pumpReading;
  pumpReading.GetRunning() = 1;
  pumpReading.GetPumpOn() = 1;
  pumpReading.GetFlow() = 1.5f;
  pumpReading.GetPercentA() = 60.0f;
  pumpReading.GetPercentB() = 40.0f;
  pumpReading.GetHighPressure() = 142.0f;
  pumpReading.GetTemperatureLeft() = 38.0f;
  pumpReading.GetNotReady() = 1;
  pumpReading.SetNotReadyInfo("The Oven is not ready.\nTarget oven temperature is 40.00");
  PrintRecord("Pump reading:", pumpReading);

  CInletSystemStatus detectorReading;
  detectorReading.GetLamp() = 1;
  PrintRecord("UV detector reading:", detectorReading);

  CInletSystemStatus merged = pumpReading;
  merged |= detectorReading;
  PrintRecord("Merged flags (host view):", merged);
  std::printf("  merged equals pump reading: %s\n\n", (merged == pumpReading) ? "yes" : "no");

  ContractOnlyPump pump;
  CString document;
  pump.FormatSolventMonitorUpdate(pumpReading, document, "Pump 1");
  std::printf("Solvent monitor document:\n%s\n\n", document.GetString());

  const int flag = ReadNetBoxCommsFlag();
  std::printf("Transport flag NetBoxComms = %d (%s), kept in %s\n", flag,
              flag ? "instrument server" : "direct network",
              platform::Registry::Get().FilePath().string().c_str());
  return 0;
}
