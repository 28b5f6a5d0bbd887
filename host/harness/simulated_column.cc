#include "host/harness/simulated_column.h"

#include <array>
#include <cstdio>

#include "host/harness/simulator.h"
#include "host/text/number_text.h"
#include "platform/method/toml.h"
#include "sim/instrument_model.h"
#include "sim/solvents.h"

namespace host {

namespace {

struct Range {
  const char* key;
  const char* what;
  double lo, hi;
  const char* unit;
};

constexpr Range kLength{"length_mm", "a column length", 10.0, 1000.0, "mm"};
constexpr Range kDiameter{"diameter_mm", "an inner diameter", 0.05, 50.0, "mm"};
constexpr Range kParticle{"particle_um", "a particle size", 0.5, 100.0, "um"};
constexpr Range kPorosity{"porosity", "a bed porosity", 0.2, 0.9, ""};
constexpr Range kSystem{"system_pressure", "a system pressure at 1 ml/min and 1 cP", 0.0, 1000.0, "bar"};
constexpr Range kDwell{"dwell_volume_ml", "a dwell volume", 0.0, 20.0, "ml"};
constexpr Range kFlowRamp{"--flow-ramp", "a flow ramp", 0.1, 1000.0, "ml/min per minute"};

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Expected(const Range& r) {
  return std::string("expected ") + r.what + " from " + Number(r.lo) + " to " + Number(r.hi) + (*r.unit ? " " : "") +
         r.unit;
}

// One number of the section, checked against its range.
std::optional<double> Take(const toml::table& section, const Range& r, std::vector<std::string>& problems) {
  const toml::node* node = section.get(r.key);
  if (!node) return std::nullopt;
  const std::string where =
      "line " + std::to_string(node->source().begin.line) + ", key 'column." + r.key + "': error: ";
  const std::optional<double> value = node->value<double>();
  if (!value || node->is_boolean()) {
    problems.push_back(where + Expected(r) + ", found something that is not a number");
  } else if (*value < r.lo || *value > r.hi) {
    problems.push_back(where + Expected(r) + ", found " + Number(*value));
  } else {
    return value;
  }
  return std::nullopt;
}

std::string Option(const std::string& text, const Range& r, double& out) {
  const auto read = ReadDecimalNumber(text, r.key, r.lo, r.hi, false);
  if (read.value) out = *read.value;
  return read.error;
}

// The simulators' own description of a path: what is unset is their
// default.
std::optional<sim::Column> SimColumn(const std::optional<ColumnSize>& given) {
  if (!given) return std::nullopt;
  sim::Column c;
  c.lengthMm = given->lengthMm, c.diameterMm = given->diameterMm, c.particleUm = given->particleUm;
  c.porosity = given->porosity.value_or(c.porosity);
  c.systemBar = given->systemBar.value_or(c.systemBar);
  return c;
}

sim::Hydraulics SimHydraulics(const SimulatedPath& path) {
  sim::Hydraulics h;
  h.column = SimColumn(path.column);
  h.dwellMl = path.dwellMl.value_or(h.dwellMl);
  h.flowRampMlMin2 = path.flowRampMlMin2.value_or(h.flowRampMlMin2);
  return h;
}

}  // namespace

SimulatedPath SimulatedPath::Under(const SimulatedPath& over) const {
  return {over.column ? over.column : column, over.dwellMl ? over.dwellMl : dwellMl,
          over.flowRampMlMin2 ? over.flowRampMlMin2 : flowRampMlMin2};
}

SimulatedPath ReadColumnSection(const std::string& path, std::vector<std::string>& problems) {
  SimulatedPath out;
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const std::exception&) {
    return out;  // the method reader tells what is wrong with the file
  }
  const toml::node* node = root.get("column");
  if (!node) return out;
  const toml::table* section = node->as_table();
  const std::string line = "line " + std::to_string(node->source().begin.line) + ", key 'column': error: ";
  if (!section) {
    problems.push_back(line + "expected a [column] table (the simulated column), found a value");
    return out;
  }
  for (const auto& [key, value] : *section) {
    bool known = false;
    for (const Range* r : {&kLength, &kDiameter, &kParticle, &kPorosity, &kSystem, &kDwell}) known |= key.str() == r->key;
    if (!known) {
      problems.push_back("line " + std::to_string(value.source().begin.line) + ", key 'column." + std::string(key.str()) +
                         "': error: unknown key; expected one of: length_mm, diameter_mm, particle_um, porosity, "
                         "system_pressure, dwell_volume_ml");
    }
  }
  out.dwellMl = Take(*section, kDwell, problems);
  const auto length = Take(*section, kLength, problems);
  const auto diameter = Take(*section, kDiameter, problems);
  const auto particle = Take(*section, kParticle, problems);
  const auto porosity = Take(*section, kPorosity, problems);
  const auto system = Take(*section, kSystem, problems);
  const bool any = section->contains(kLength.key) || section->contains(kDiameter.key) ||
                   section->contains(kParticle.key) || section->contains(kPorosity.key) ||
                   section->contains(kSystem.key);
  if (any) {
    for (const Range* r : {&kLength, &kDiameter, &kParticle}) {
      if (!section->contains(r->key)) {
        problems.push_back(line + "missing " + r->key + ": a column needs its length, inner diameter and particle size");
      }
    }
  }
  if (length && diameter && particle) out.column = ColumnSize{*length, *diameter, *particle, porosity, system};
  return out;
}

std::string ReadColumnOption(const std::string& text, SimulatedPath& path) {
  double diameter = 0, length = 0, particle = 0;
  char x = 0, comma = 0;
  int used = 0;
  const std::string wrong = "--column: expected DIAMETERxLENGTH,PARTICLE in mm, mm and um (2.1x100,1.7), found '" +
                            text + "'";
  if (std::sscanf(text.c_str(), "%lf%c%lf%c%lf%n", &diameter, &x, &length, &comma, &particle, &used) != 5 ||
      used != static_cast<int>(text.size()) || (x != 'x' && x != 'X') || comma != ',') {
    return wrong;
  }
  for (const auto& [value, range] : {std::pair{diameter, kDiameter}, {length, kLength}, {particle, kParticle}}) {
    if (!(value >= range.lo && value <= range.hi)) return "--column: " + Expected(range) + ", found " + Number(value);
  }
  path.column = ColumnSize{length, diameter, particle, std::nullopt, std::nullopt};
  return "";
}

std::string ReadDwellOption(const std::string& text, SimulatedPath& path) {
  double ml = 0;
  Range r = kDwell;
  r.key = "--dwell";
  std::string error = Option(text, r, ml);
  if (error.empty()) path.dwellMl = ml;
  return error;
}

std::string ReadFlowRampOption(const std::string& text, SimulatedPath& path) {
  double rate = 0;
  std::string error = Option(text, kFlowRamp, rate);
  if (error.empty()) path.flowRampMlMin2 = rate;
  return error;
}

double StartingPressureBar(const QuarnMethod& method, const SimulatedPath& path,
                           const std::array<std::string, 4>& labels, Transport transport) {
  const PumpInitialCons& pump = method.GetPumpInitialCons();
  const double d = transport == Transport::kServer ? pump.PercentD() : 0.0;
  const sim::Composition mix{100.0 - pump.PercentB() - pump.PercentC() - d, pump.PercentB(), pump.PercentC(), d};
  const double celsius = pump.OvenInUse() ? pump.OvenTemperature() : sim::InstrumentModel::kAmbientC;
  if (!Simulator()) return 0;
  return Simulator()->PressureBar(pump.Flow() * 1000.0, mix, celsius, labels, SimColumn(path.column));
}

std::optional<RunPrediction> PredictRun(const QuarnMethod& method, const SimulatedPath& path,
                                        const std::array<std::string, 4>& labels,
                                        const std::vector<std::pair<std::string, double>>* sample) {
  if (!Simulator()) return std::nullopt;
  const PumpInitialCons& pump = method.GetPumpInitialCons();
  const auto mix = [](double b, double c, double d) { return sim::Composition{100.0 - b - c - d, b, c, d}; };
  sim::Program program;
  switch (pump.PumpSystem()) {
    case pumpSystemBinary: program.systemCode = kSystemBinary; break;
    case pumpSystemTernary: program.systemCode = kSystemTernary; break;
    case pumpSystemQuaternary: program.systemCode = kSystemQuaternary; break;
    default: program.systemCode = kSystemSingle; break;
  }
  program.pumps[0] = {pump.Flow() * 1000.0, mix(pump.PercentB(), pump.PercentC(), pump.PercentD()),
                      pump.MaxPressure() > 0 ? std::optional(pump.MaxPressure()) : std::nullopt, std::nullopt};
  const PumpGradient& gradient = method.GetPumpGradient();
  for (int i = 0; i < gradient.GetCount(); ++i) {
    const GradTimeTableEntry& e = *gradient.TableEntry(i);
    program.timetable.push_back({static_cast<std::int64_t>(std::lround(e.Time() * 60000.0)), kUnitPump1,
                                 {e.Flow() * 1000.0, mix(e.PercentB(), e.PercentC(), e.PercentD()),
                                  e.Pressure() > 0 ? std::optional(e.Pressure()) : std::nullopt, std::nullopt}});
  }
  if (pump.OvenInUse()) program.ovenTemperatureC = static_cast<int>(std::lround(pump.OvenTemperature()));
  program.uvWavelengthTenthsNm = method.GetUVDetectorCons().Wavelength() * 10;
  program.uvResponse = method.GetUVDetectorCons().Response();
  program.runTimeS = static_cast<std::int32_t>(std::lround(method.GetRunLength() * 60.0));
  const SamplerInitialCons& sampler = method.GetSamplerInitialCons();
  program.vial = sampler.VialNumber();
  program.injectVolumeNl = static_cast<std::int32_t>(std::lround(sampler.InjectionVolume() * 1000.0));
  const sim::Control::Prediction p =
      Simulator()->Predict(program, labels, SimHydraulics(path), sample ? *sample : sim::SampleContents{});
  RunPrediction prediction{p.maxBar, p.maxAtMin, p.waitedMin, {}};
  for (const sim::RecordedPeak& peak : p.peaks) prediction.peaks.push_back({peak.compound, peak.apexMin, peak.sigmaMin});
  return prediction;
}

std::string DescribeSimulatedPath(const SimulatedPath& path) {
  const sim::Hydraulics h = SimHydraulics(path);
  char text[256];
  if (h.column) {
    const sim::Column& c = *h.column;
    std::snprintf(text, sizeof text, "%g x %g mm, %g um column (bed porosity %.2f%s%s), ", c.diameterMm, c.lengthMm,
                  c.particleUm, c.porosity, c.systemBar > 0 ? ", system " : "",
                  c.systemBar > 0 ? (Number(c.systemBar) + " bar at 1 ml/min and 1 cP").c_str() : "");
  } else {
    std::snprintf(text, sizeof text, "the simulator's fixed column (%g bar per ml/min per cP), ",
                  sim::kFixedColumnBarPerMlMinCp);
  }
  return text + ("dwell volume " + Number(h.dwellMl) + " ml, flow ramp " + Number(h.flowRampMlMin2) +
                 " ml/min per minute");
}

bool SameColumn(const SimulatedPath& pathA, const SimulatedPath& pathB) {
  const std::optional<sim::Column> a = SimColumn(pathA.column), b = SimColumn(pathB.column);
  if (!a || !b) return !a && !b;
  return a->lengthMm == b->lengthMm && a->diameterMm == b->diameterMm && a->particleUm == b->particleUm &&
         a->porosity == b->porosity && a->systemBar == b->systemBar;
}

void FitSimulatedPath(const SimulatedPath& path, Transport transport) {
  if (Simulator()) Simulator()->FitHydraulics(SideOf(transport), SimHydraulics(path));
}

// The liquid the simulated column holds; a method without one counts as
// a 4.6 x 150 mm column.
double ColumnVolumeMl(const SimulatedPath& path) {
  return sim::LiquidVolumeMl(SimColumn(path.column).value_or(sim::Column{}));
}

}  // namespace host
