// One injection of a sequence as the lab's results see it: what it was
// (its type and level), what its vial held by its sample description, and
// the peaks measured on its chromatogram. Calibration and system
// suitability (calibration.h, suitability.h) are worked out from these,
// in the order the list runs them; plain values, so that a report can be
// made of them later.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/inputs/sample_list.h"
#include "host/outputs/chromatogram.h"

namespace host {

struct LabInjection {
  int number = 0;        // the sample's number in the sequence, from 1
  std::string sample;    // its name
  std::string method;    // as the list names it: calibration lines are a method's
  SampleType type = SampleType::kUnknown;
  std::string level;     // a standard's
  // What its sample description says the vial holds: compound (lower
  // case) and mg/l; empty without a description.
  std::vector<std::pair<std::string, double>> contents;
  // Whether its last attempt has ended (good or not): false for one
  // still to run.
  bool ended = false;
  // Whether it has results: its last attempt ended good and recorded a
  // peak table; `peaks` is that table (compound names in lower case).
  bool measured = false;
  std::vector<MeasuredPeak> peaks;

  // The measured peak of `compound` (lower case), or nullptr.
  const MeasuredPeak* Peak(const std::string& compound) const {
    for (const MeasuredPeak& peak : peaks) {
      if (peak.compound == compound) return &peak;
    }
    return nullptr;
  }
  // What the description says of `compound`, mg/l; negative when it does not name it.
  double Concentration(const std::string& compound) const {
    for (const auto& [name, mgPerL] : contents) {
      if (name == compound) return mgPerL;
    }
    return -1.0;
  }
};

}  // namespace host
