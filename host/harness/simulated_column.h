// The simulated liquid path a run uses: the column and dwell volume from
// a method file's optional [column] section, which only the simulators
// read (the plug-in passes over it), and the host's --column, --dwell and
// --flow-ramp options, which win over the file. docs/method-files.md and
// docs/simulator.md describe both.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/inputs/transport_checks.h"
#include "platform/method/quarn_method.h"

namespace host {

// A packed column as a method file or --column gives it; what is not
// given is the simulator's default.
struct ColumnSize {
  double lengthMm = 0;
  double diameterMm = 0;             // inner diameter
  double particleUm = 0;
  std::optional<double> porosity;    // of the bed between the particles
  std::optional<double> systemBar;   // tubing and injector: bar at 1 ml/min of a 1 cP solvent
};

// What a method file or the options ask of the simulated liquid path;
// unset parts are left to the next source (options, then the file, then
// the simulator's defaults). Without a column, the simulator's fixed one.
struct SimulatedPath {
  std::optional<ColumnSize> column;
  std::optional<double> dwellMl;
  std::optional<double> flowRampMlMin2;

  // `over` wins where it is set.
  SimulatedPath Under(const SimulatedPath& over) const;
};

// What the simulated instruments predict for `method` run as the host runs
// it on instruments just switched on (the oven warming from ambient, the
// injection once it is within a degree of its set point): the highest
// pressure and when, and the peaks of `sample` (nullptr: none) in the
// method's vial. nullopt without a simulator.
struct RunPrediction {
  double maxBar = 0.0;
  double maxAtMin = 0.0;   // run time; negative: before the injection
  double waitedMin = 0.0;  // from the pumps' start to the injection
  struct Peak {
    std::string compound;
    double apexMin = 0.0, sigmaMin = 0.0;
  };
  std::vector<Peak> peaks;
};
std::optional<RunPrediction> PredictRun(const QuarnMethod& method, const SimulatedPath& path,
                                        const std::array<std::string, 4>& labels,
                                        const std::vector<std::pair<std::string, double>>* sample);

// Whether two paths use the same column (both the simulator's fixed one,
// or the same size, particles and bed).
bool SameColumn(const SimulatedPath& a, const SimulatedPath& b);

// The simulated column, dwell volume and pump dynamics for the next runs
// on `transport`.
void FitSimulatedPath(const SimulatedPath& path, Transport transport);

// The liquid a path's column holds, ml; without a column, the simulator's
// default column's.
double ColumnVolumeMl(const SimulatedPath& path);

// The [column] section of the method file at `path`, if it has one.
// `problems` gets one line per mistake, "line N, key 'column.KEY': error: ...";
// a file that cannot be read or parsed adds none (the method reader
// reports those).
SimulatedPath ReadColumnSection(const std::string& path, std::vector<std::string>& problems);

// --column DIAMETERxLENGTH,PARTICLE ("2.1x100,1.7": mm, mm, um), --dwell
// ML, --flow-ramp ML_MIN_PER_MIN. "" or the mistake.
std::string ReadColumnOption(const std::string& text, SimulatedPath& path);
std::string ReadDwellOption(const std::string& text, SimulatedPath& path);
std::string ReadFlowRampOption(const std::string& text, SimulatedPath& path);

// The simulated steady pressure at the method's starting flow and
// composition on `transport` (the direct one runs D's share as A), its
// oven's temperature (else 25 C) and the bottles filled from `labels`
// (channels A to D); 0 where no simulator is loaded.
double StartingPressureBar(const QuarnMethod& method, const SimulatedPath& path,
                           const std::array<std::string, 4>& labels, Transport transport);

// "2.1 x 100 mm, 1.7 um column (porosity 0.40), dwell volume 0.60 ml,
// flow ramp 10 ml/min per minute", or "the simulator's fixed column ..."
// without one; what is unset is the simulator's default.
std::string DescribeSimulatedPath(const SimulatedPath& path);

}  // namespace host
