// What is in the vials: a tray file names sample descriptions (compounds
// and their concentrations, mg/l) and the vials that hold them. The
// simulated autosampler injects from those vials, and the simulated
// detectors record what the column makes of them.
//
//   [sample.xanthines]          # a sample description, by name
//   caffeine = 50.0             # compound = mg/l
//   theophylline = 20
//
//   [tray]
//   1 = "xanthines"             # vial = description
//
// A sample list's `contents` column may name a description for its row
// instead. Compound names are checked against the simulators' library
// where the file is used (the harness), not here. Everything wrong is
// reported, each problem with the file's name and line.
// Pure functions apart from reading the file; any thread.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace host {

// One sample description: compounds by name with mg/l, in name order.
// A description without compounds is a blank: the detectors record the
// baseline.
struct SampleDescription {
  std::string name;
  std::vector<std::pair<std::string, double>> compounds;
  int line = 0;  // of its table
};

struct Tray {
  std::filesystem::path file;  // empty: no tray file
  std::map<std::string, SampleDescription> samples;
  std::map<int, std::string> vials;  // vial number -> description name
  std::vector<std::string> problems;

  // The description of `vial`, or of `named` when a sample list row names
  // one; nullptr for none.
  const SampleDescription* For(int vial, const std::string& named = "") const;
};

// The file a run uses when no --tray is given: beside the method, a tray
// file of the method's own (STEM.tray.toml, STEM the method file's name up
// to its first '.'), else tray.toml; beside the sample list for a
// sequence, tray.toml; none if there is none.
inline constexpr const char* kTrayFileName = "tray.toml";
std::filesystem::path MethodTrayFile(const std::filesystem::path& method, const std::string& stem);

Tray ReadTray(const std::filesystem::path& file);
// The same from text already read; `file` is what problems start with.
Tray ParseTray(const std::string& text, const std::filesystem::path& file);

// The most vials a tray may name, and the highest concentration a
// description may give (mg/l; a neat liquid is about 1e6).
inline constexpr int kMaxTrayVial = 999;
inline constexpr double kMaxConcentrationMgL = 1e6;

}  // namespace host
