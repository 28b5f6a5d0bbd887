// The host program's commands, apart from argument parsing.
//
// Contract: each returns the process exit code (0 success, 1 a problem
// the user can fix: bad input, a failed method check, a run that failed
// or a file that could not be written; 2 a mistake on the command line:
// an unknown setting, a fault the run's transport does not have; 128 + the signal for a run stopped
// by one: 130 SIGINT, 143 SIGTERM, 129 SIGHUP, 141 a closed output pipe)
// and reports through the TerminalUi. None throws.
// Thread safety: host's thread only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/harness/faults.h"
#include "host/harness/simulated_column.h"
#include "host/harness/simulators.h"
#include "host/inputs/transport_checks.h"
#include "host/outputs/terminal_ui.h"
#include "host/running/run_judge.h"

namespace host {

struct RunOptions {
  std::string method;                       // a method name or a file path
  std::optional<Transport> transport;       // unset: the transport setting decides
  std::optional<int> vial;                  // unset: the method's autosampler vial
  std::optional<double> volumeUl;           // unset: the method's injection volume
  double speed = 120.0;                     // clock speed-up
  std::optional<std::filesystem::path> out; // the run folder; unset: a new one under ./runs
  bool force = false;                       // replace the run files already in `out`
  bool trace = false;
  bool virtualTime = false;                 // virtual time instead of --speed
  OutputMode mode = OutputMode::kNormal;
  std::vector<Fault> faults;                // injected into the simulated instruments
  SolventLabels solvents;                   // --solvent
  SimulatedPath simulated;                  // --column, --dwell, --flow-ramp
  ReadyRules ready;                         // --ready-timeout, --if-not-ready
  std::optional<std::filesystem::path> tray;  // --tray; unset: tray.toml beside the method, if there is one
};

int RunMethodCommand(const RunOptions& options, TerminalUi& ui);

// A fault on demand for one sample of a sequence.
struct SampleFault {
  int sample = 1;  // from 1, in the order the samples run
  Fault fault;
};

struct SequenceOptions {
  std::string list;                         // the sample list file
  std::optional<Transport> transport;       // unset: the transport setting decides
  double speed = 120.0;                     // clock speed-up
  bool virtualTime = false;
  OutputMode mode = OutputMode::kNormal;
  std::optional<std::filesystem::path> out; // the sequence folder; unset: a new one under ./runs
  bool force = false;                       // replace the files of an earlier sequence in `out`
  std::optional<std::filesystem::path> resume;  // continue the sequence in this folder
  bool skipFailed = false;                  // --on-error skip: go on after a failed sample
  bool strict = false;                      // warnings of the methods count as errors
  bool trace = false;
  bool memoryCheck = false;                 // fail when memory grows after the warm-up
  std::vector<SampleFault> faults;
  SolventLabels solvents;                   // --solvent, for every method of the list
  SimulatedPath simulated;                  // --column, --dwell, --flow-ramp
  bool keepSimulatorLogs = false;           // for tests that read the simulators' logs afterwards
  ReadyRules ready;                         // --ready-timeout, --if-not-ready, --equilibrate
  std::optional<std::filesystem::path> tray;  // --tray; unset: LIST.tray.toml or tray.toml beside the list, if there is one
  // --suitability: the acceptance criteria (host/inputs/acceptance_criteria.h);
  // unset: LIST.suitability.toml or suitability.toml beside the list, if there is one.
  std::optional<std::filesystem::path> suitability;
  bool continueUnsuitable = false;          // --if-unsuitable continue: go on after a failed suitability check
};

// Runs every sample of a list on one set of open devices; 0 when every
// sample ended good, 1 when one failed or the list was refused.
int SequenceCommand(const SequenceOptions& options, TerminalUi& ui);

// Checks each file, then what `transport` (unset: the transport setting)
// would change in it, and says what the simulators fill each bottle in use
// with (`solvents` overriding the file's labels). Warnings alone exit 0,
// unless `strict`; the simulators' warnings never fail a check.
int MethodCheckCommand(const std::vector<std::string>& files, std::optional<Transport> transport, bool strict,
                       TerminalUi& ui, const SolventLabels& solvents = {});
int MethodShowCommand(const std::string& file, TerminalUi& ui);
int ConfigGetCommand(const std::string& key, TerminalUi& ui);
int ConfigSetCommand(const std::string& key, const std::string& value, TerminalUi& ui);
int StatusCommand(TerminalUi& ui, OutputMode mode);

}  // namespace host
