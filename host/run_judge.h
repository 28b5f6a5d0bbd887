// How a sample run is judged: the facts its polls and steps showed in, its
// outcome out. Pure functions; any thread.
//
// The plug-in does not report every trouble on every transport, so the
// host judges from what it saw: a run that ends before its length, a
// sample that was never injected, a trip or an error before the
// injection, a signal that stopped it, a step that failed, and a fault on
// demand that hit it each make the run a failure, and the outcome names
// the cause as seen.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/run_log.h"
#include "host/transport_checks.h"
#include "platform/method/quarn_method.h"

namespace host {

// A run whose last reported run time is this much short of its length
// ended early (the polls come about a second apart).
inline constexpr double kEarlyEndMinutes = 3.0 / 60;

// The pressure limits the transport in use sent to the pumps.
struct PressureLimits {
  int lower = 0;  // bar; 0: none
  int upper = 0;  // bar, from the start; 0: none
  // (minutes, bar): a gradient step that sets a new upper limit (the
  // server transport sends them; the direct transport only the method's).
  std::vector<std::pair<double, int>> upperSteps;

  int UpperAt(double minutes) const;
};
PressureLimits LimitsSent(const QuarnMethod& method, Transport transport);

// The limit a reading reached (within 5 %: the pumps check their limits
// ten times between two polls), as words; "" when none.
std::string LimitCause(const PollRow& row, const PressureLimits& limits);

struct RunFacts {
  double runLength = 0;        // the method's, minutes
  double runTime = 0;          // the longest run time the instruments reported
  double methodFlow = 0;       // ml/min at the start
  PressureLimits limits;
  bool sampleStarted = false;  // the autosampler was asked to start the sample
  bool samplerSeen = false;    // it reported its injection sequence
  bool injected = false;       // ... and the run clock started after it
  std::string stopSignal;      // the signal that stopped the run ("SIGINT"); "": none
  std::string waitFailure;     // what ended the wait before the injection
  bool failed = false;         // a step failed (opening, loading, starting, polling, communications)
  std::string failure;         // what it reported
  std::optional<PollRow> last;         // the last poll
  std::optional<PollRow> lastRunning;  // the last poll that saw the run
  std::vector<std::string> faultsHit;  // faults on demand that hit the run, as typed
};

struct RunVerdict {
  bool good = false;
  std::string outcome;  // "completed, 25.0 of 25.0 min" or what went wrong
  std::string message;  // for the terminal's error line; "" for a good run
};
RunVerdict JudgeRun(const RunFacts& facts);

// Why no injection block is in the record.
std::string NoInjectionReason(const RunFacts& facts);

}  // namespace host
