// The simulated instruments as the host program sets them up for a run:
// the solvents in their bottles, the server registered, their logs and
// the server's call trace. With real instruments none of this is called.
// The harness is the only part of the host that sees the simulators;
// everything else of the host reaches them through here, faults.h and
// simulated_column.h.
// Thread safety: host's thread only.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/inputs/transport_checks.h"
#include "host/inputs/tray.h"
#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"

namespace host {

// Whether simulated instruments answer in this process: the simulators'
// library was loaded with the driver library. Without them the instruments
// are real, every other call here does nothing, and the run goes on the
// system clock.
bool SimulatorPresent();
// What the terminal, the logbook and the record say then, after "the ".
inline constexpr const char* kRealInstrumentsText =
    "instruments are real: no simulator is loaded, so the run goes on the system clock";

// The solvents the simulators are to use for channels A to D, given with
// --solvent: a label each, "" to keep the method's. The plug-in still gets
// the method's labels.
using SolventLabels = std::array<std::string, 4>;

// Reads the --solvent texts ("B=MeCN/water 90:10") into `labels`; "" or
// the mistake (a channel other than A to D, one given twice, a label that
// names nothing the simulators know).
std::string ReadSolventOptions(const std::vector<std::string>& texts, SolventLabels& labels);

// What the simulators use for one channel in use.
struct SolventLine {
  std::string text;  // 'solvent A "Water" is simulated as water', or a warning with its line and key
  bool warning = false;
};
// One line for each of channels A to D that the method uses and that
// `transport` draws from (the direct one has no D: its share runs as A),
// in channel order; `labels` gets what the bottles are to be filled from
// (a --solvent label where `given` has one, else the method's).
std::vector<SolventLine> SimulatedSolvents(const QuarnMethod& method, const MethodKeyLines& lines,
                                           const SolventLabels& given, Transport transport, SolventLabels& labels);

// The simulated bottles hold what `bottles` names; the server is
// registered when it is the transport.
void PrepareSimulators(const SolventLabels& bottles, Transport transport);

// Registers the simulated instrument server, so that the plug-in can
// create it.
// Lets go of simulators that run in a program of their own (the simulated
// server's on Windows), once the plug-in has closed the devices: that
// program ends when no one holds it.
void ReleaseSimulators();
// The program the simulated server runs in when it is not this process
// (server transport only), as "TavixServer.exe (process 1234)"; else "".
std::string SimulatedServerProgram(Transport transport);
void RegisterSimulatedServer();
// Why the simulated server the plug-in uses is gone (server transport):
// "TavixServer.exe (process 1234) ended, exit code 3", or "the simulated
// server stopped answering" for one in this process; "" while it answers.
std::string SimulatedServerLost(Transport transport);

// ---- Samples and what the detectors record ----
// The problems of a tray's sample descriptions that name a compound the
// simulators do not know, each with the file and line and the compounds
// they know; none without a simulator.
std::vector<std::string> TrayCompoundProblems(const Tray& tray);
// Vial `vial` of the simulated tray holds `sample`; nullptr: nothing (a
// run from it records a baseline). "" or why the simulators could not
// be reached.
std::string PlaceSimulatedSample(Transport transport, int vial, const SampleDescription* sample);

// A peak the simulated detectors saw: which compound, when, how wide, and
// the PDA's spectrum at its apex (mAU, from 190 nm in 2 nm steps).
struct DetectorPeak {
  std::string compound;
  double apexMin = 0.0, sigmaMin = 0.0;
  std::vector<float> spectrum;
};
inline constexpr int kSpectrumFromNm = 190;
inline constexpr int kSpectrumStepNm = 2;
// What the simulated detectors recorded since the last take.
struct DetectorData {
  bool injected = false;  // the run injected (else nothing was recorded)
  int vial = -1;
  int wavelengthNm = 0;
  std::size_t firstSample = 0;    // the place of samplesMau[0] in the run
  std::vector<double> samplesMau; // the UV's absorbance, one every 0.1 s from the injection; NaN: lamp off
  std::vector<DetectorPeak> peaks;
  std::vector<std::string> unknown;  // compounds of the vial the simulators do not know
};
inline constexpr double kDetectorPeriodMin = 0.1 / 60.0;
// The samples from `fromSample` and the peaks from `fromPeak`; nullopt
// without a simulator or when it cannot be reached.
std::optional<DetectorData> TakeDetectorData(Transport transport, std::size_t fromSample, std::size_t fromPeak);

// The simulators' test logs off: they would grow with every poll.
void QuietSimulatorLogs(Transport transport);

// Every call the simulated server receives and every event it sends, one
// line each, to `sink`; nullptr: nowhere.
void TraceSimulatedServer(std::function<void(const std::string&)> sink);

}  // namespace host
