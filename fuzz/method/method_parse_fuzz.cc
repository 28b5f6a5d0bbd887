// Feeds arbitrary bytes to the method-file parser. Beyond not crashing, a
// file the parser accepts must hold only values inside the documented
// ranges, and a refused file must come with at least one problem.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/method/method_file.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool Within(double value, double lo, double hi) { return value >= lo && value <= hi; }

void CheckComposition(double b, double c, double d) {
  Require(Within(b, 0, 100) && Within(c, 0, 100) && Within(d, 0, 100));
  Require(b + c + d <= 100.0 + 1e-3);
}

void CheckAccepted(const QuarnMethod& m) {
  const PumpInitialCons& pump = m.GetPumpInitialCons();
  Require(Within(pump.Flow(), 0, 10));
  Require(Within(pump.MaxPressure(), 1, 1000) && Within(pump.MinPressure(), 0, 1000));
  Require(pump.MinPressure() < pump.MaxPressure());
  Require(pump.StopTime() > 0 && pump.StopTime() <= 10000);
  Require(Within(pump.PumpSystem(), 0, 3));
  CheckComposition(pump.PercentB(), pump.PercentC(), pump.PercentD());
  Require(pump.OvenInUse() == 0 || pump.OvenInUse() == 1);
  if (pump.OvenInUse()) Require(Within(pump.OvenTemperature(), 0, 100));

  const PumpGradient& gradient = m.GetPumpGradient();
  Require(gradient.GetCount() <= PumpGradient::kMaxEntries);
  float previous = 0.0f;
  for (int i = 0; i < gradient.GetCount(); ++i) {
    const GradTimeTableEntry& e = *gradient.TableEntry(i);
    Require(Within(e.Time(), previous, pump.StopTime()));
    previous = e.Time();
    Require(Within(e.Flow(), 0, 10) && Within(e.Pressure(), 1, 1000));
    CheckComposition(e.PercentB(), e.PercentC(), e.PercentD());
  }

  const CEventTable& events = m.GetEventTable();
  Require(events.GetCount() <= CEventTable::kMaxEntries);
  CExternalEvent event;
  for (int i = 0; events.GetTableEntry(i, event); ++i) {
    Require(Within(event.Time(), 0, pump.StopTime()));
    Require(IsValidEventType(event.Event()) && IsValidActionType(event.Action()));
    Require(events.FindTableEntry(event.Time(), event.Event()) == i);
  }
  for (int type = 0; type < kEventTypeCount; ++type) {
    Require(IsValidActionType(m.GetInitialEventStates().State(static_cast<EventType>(type))));
  }

  const SamplerInitialCons& sampler = m.GetSamplerInitialCons();
  Require(Within(sampler.VialNumber(), 1, 10000));
  Require(sampler.InjectionVolume() > 0 && sampler.InjectionVolume() <= 1000);
  Require(sampler.AnalysisTime() > 0 && sampler.AnalysisTime() <= 10000);
  Require(Within(sampler.Flushes(), 0, 100));
  const UVDetectorCons& uv = m.GetUVDetectorCons();
  Require(Within(uv.Wavelength(), 190, 900) && Within(uv.Response(), 0, 2));
  Require(uv.ZeroSetting() == 0 || uv.ZeroSetting() == 1);

  for (const char* unit : {"PUMP", "AUTOSAMPLER", "UVDETECTOR"}) {
    CGenericExpRecord record;
    m.Print(&record, unit);
    Require(!record.Text().empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  QuarnMethod method;
  MethodFileProblems problems;
  if (ParseMethodText(text, method, problems)) {
    Require(problems.empty());
    CheckAccepted(method);
  } else {
    Require(!problems.empty());
    Require(method == QuarnMethod());
    for (const MethodFileProblem& p : problems) Require(!DescribeMethodFileProblem(p).empty());
    Require(!DescribeMethodFileProblems("fuzz.quarn900.toml", problems).IsEmpty());
  }
  return 0;
}
