// How much of a gradient the direct transport takes down to the pumps:
// the analysis file's timetable (platform/vexlink/download_records.h)
// holds a fixed number of lines, and the direct pump back-end writes
// three for each gradient step (flow, upper pressure limit, composition).
// Header-only and free of the product's state, so that a host may check a
// method against it before loading it (the host program's method check).
#pragma once

#include "platform/vexlink/download_records.h"

inline constexpr int kTimetableLinesPerStep = 3;
inline constexpr int kTimetableLineCount = static_cast<int>(AnlsFile::TimetableLines::kCount);
// Gradient steps a timetable of its own holds: 21.
inline constexpr int kDirectMaxGradientSteps = kTimetableLineCount / kTimetableLinesPerStep;
