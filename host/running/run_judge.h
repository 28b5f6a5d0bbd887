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

#include "host/inputs/transport_checks.h"
#include "host/outputs/run_log.h"
#include "platform/method/quarn_method.h"

namespace host {

// A run whose last reported run time is this much short of its length
// ended early (the polls come about a second apart).
inline constexpr double kEarlyEndMinutes = 3.0 / 60;

// When the host counts the instruments as ready to inject, and what it
// does when they are not ready in time (--ready-timeout, --if-not-ready,
// --equilibrate). Besides every unit reporting ready:
//  - the column oven within kOvenToleranceC of its set point;
//  - the flow within kFlowShare of the method's starting flow, and the
//    pressure steady: over the last kSteadyMinutes of polls it moved at
//    most kSteadyShare of its value (or kSteadyBar, whichever is more);
//  - after a method change, `equilibrateVolumes` column volumes of the
//    new starting conditions delivered since the flow reached its set point.
struct ReadyRules {
  double timeoutMinutes = 30.0;
  bool injectWhenNotReady = false;  // at the timeout: inject and mark the sample, else fail it uninjected
  double equilibrateVolumes = 10.0;
};
inline constexpr double kOvenToleranceC = 1.0;
inline constexpr double kFlowShare = 0.02;
inline constexpr double kSteadyMinutes = 0.5;
inline constexpr double kSteadyShare = 0.02;
inline constexpr double kSteadyBar = 2.0;

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
  std::optional<PollRow> lastFlowing;  // the last poll after the sample start with the pump on and delivering
  std::string notReady;        // injected after the readiness limit: what was not ready then; "": ready
  std::vector<std::string> faultsHit;  // faults on demand that hit the run, as typed
  bool injectionPlanned = true;  // false: a row that runs or pumps with no injection
  std::string doneText;          // such a row without a run of its own: its good outcome
};

struct RunVerdict {
  bool good = false;
  bool notReady = false;  // completed, but injected before the instruments were ready
  std::string outcome;  // "completed, 25.0 of 25.0 min" or what went wrong
  std::string message;  // for the terminal's error line; "" for a good run
};
RunVerdict JudgeRun(const RunFacts& facts);

// The result an outcome of JudgeRun stands for: "good", "not-ready",
// "interrupted" or "failed" (a sequence reads it back from a record).
std::string ResultOfOutcome(const std::string& outcome);

// Why no injection block is in the record.
std::string NoInjectionReason(const RunFacts& facts);

// No injection was seen, but one may have happened: the autosampler began
// its sequence and the run did not start, or the run started without the
// autosampler reporting a sequence. The vial may have been drawn from.
bool InjectionNotKnown(const RunFacts& facts);

}  // namespace host
