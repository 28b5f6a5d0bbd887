// status.svg: the run's pump and oven traces against time, the picture a
// chromatographer checks after a run.
//
// Four panels share one time axis: pressure (bar), composition (%B, and
// %C / %D when the method uses them), flow (ml/min) and oven temperature
// (degrees C, with the set point dashed when the oven is in use). Each
// panel has its own labelled axis, grid and legend.
// Pure function; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/run_log.h"

namespace host {

struct ChartInfo {
  std::string title;                   // e.g. the method name
  std::string subtitle;                // e.g. vial, volume, date
  std::optional<double> ovenSetPoint;  // degrees C, when the oven is used
};

std::string RenderStatusSvg(const std::vector<PollRow>& rows, const ChartInfo& info);

// Tick positions between lo and hi at a 1-2-5 step giving about `count`
// ticks (exposed for tests).
std::vector<double> NiceTicks(double lo, double hi, int count);

}  // namespace host
