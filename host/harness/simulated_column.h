// The simulated liquid path a run uses: the column and dwell volume from
// a method file's optional [column] section, which only the simulators
// read (the plug-in passes over it), and the host's --column, --dwell and
// --flow-ramp options, which win over the file. docs/method-files.md and
// docs/simulator.md describe both.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/method/quarn_method.h"
#include "sim/hydraulics.h"

namespace host {

// What a method file or the options ask of the simulated liquid path;
// unset parts are left to the next source (options, then the file, then
// the simulator's defaults).
struct SimulatedPath {
  std::optional<sim::Column> column;
  std::optional<double> dwellMl;
  std::optional<double> flowRampMlMin2;

  // `over` wins where it is set.
  SimulatedPath Under(const SimulatedPath& over) const;
  sim::Hydraulics Hydraulics() const;
};

// Whether two runs use the same column (both the simulator's fixed one,
// or the same size, particles and bed).
bool SameColumn(const std::optional<sim::Column>& a, const std::optional<sim::Column>& b);

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
// composition, its oven's temperature (else 25 C) and the bottles filled
// from `labels` (channels A to C).
double StartingPressureBar(const QuarnMethod& method, const sim::Hydraulics& hydraulics,
                           const std::array<std::string, 3>& labels);

// "2.1 x 100 mm, 1.7 um column (porosity 0.40), dwell volume 0.60 ml,
// flow ramp 10 ml/min per minute", or "the simulator's fixed column ..."
// without one.
std::string DescribeHydraulics(const sim::Hydraulics& hydraulics);

}  // namespace host
