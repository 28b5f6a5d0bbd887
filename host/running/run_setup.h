// What `run` and `sequence` do before and around their samples: the
// transport held for the process, the method read and checked for it, the
// simulated bottles filled, the trace started and stopped, the clock.
// Thread safety: host's thread only.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/harness/simulated_column.h"
#include "host/harness/simulators.h"
#include "host/inputs/transport_checks.h"
#include "host/outputs/terminal_ui.h"
#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"

namespace host {

// The transport for this process: the one asked for, else the setting's
// now. Held for this process (every device of the run uses it, whatever
// others write to the setting meanwhile); the settings file is not
// written. "" when taken, else why the settings cannot be used.
std::string TakeTransport(const std::optional<Transport>& asked, Transport& transport);

// A method file read and checked for a transport.
struct CheckedMethod {
  std::string path;  // as the devices load it
  std::string stem;  // the file name up to its first '.'
  QuarnMethod method;
  std::vector<std::string> warnings;  // what the transport changes in it, one line each (printed)
  SimulatedPath simulated;            // its [column] section
  SolventLabels bottleLabels;         // what the simulated bottles are filled from
  std::vector<std::string> solventLines;  // SolventLine texts (the warnings among them printed)
  // What a sample's logbook says of the method: the warnings, then the
  // solvent lines.
  std::vector<std::string> LogbookLines() const {
    std::vector<std::string> all = warnings;
    all.insert(all.end(), solventLines.begin(), solventLines.end());
    return all;
  }
};
// Reads `given` (a file or a method name) into `out`, which is fresh, and
// checks it for `transport`, printing the transport's warnings and the
// simulators' solvent warnings to standard error with `warningsTo` (null:
// not printed). `solvents` overrides the method's labels in the simulated
// bottles. "" when the method can run, else why not (more than one line
// for a broken file).
std::string LoadCheckedMethod(const std::string& given, Transport transport, CheckedMethod& out,
                              std::FILE* warningsTo, TerminalUi& ui, const SolventLabels& solvents);

// Virtual time, or virtual time paced at `speed` times wall time; the
// simulators' test logs off (they would grow with every poll) unless
// `keepLogs`.
void UseRunClock(bool virtualTime, double speed, Transport transport, bool keepLogs = false);

// The trace of one run or sequence: the plug-in's own wire trace on the
// direct transport (wire-trace.log), the calls the simulated server
// received and the events it sent on the server transport
// (server-calls.log).
class RunTrace {
 public:
  explicit RunTrace(Transport transport) : m_transport(transport) {}
  const char* FileName() const;
  // False when the file cannot be written. `append` goes on with a trace
  // already there (a resumed sequence).
  bool Start(const std::filesystem::path& folder, bool append = false);
  // Whether the trace file is whole; shows why not.
  bool Stop(TerminalUi& ui);

 private:
  Transport m_transport;
  std::filesystem::path m_path;
  std::shared_ptr<std::FILE> m_serverTrace;
};

}  // namespace host
