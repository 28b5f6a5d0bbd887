#include "host/running/run_judge.h"

#include <algorithm>
#include <cstdio>

#include "host/text/display_text.h"
#include "host/text/number_text.h"

namespace host {

namespace {

// A last pressure reading within this share of a limit counts as having
// reached it.
constexpr double kLimitShare = 0.05;

std::string OfLength(const RunFacts& f) { return Fixed(f.runTime, 1) + " of " + Fixed(f.runLength, 1) + " min"; }

// What the last polls show about a run that ended early.
std::string EarlyEndCause(const RunFacts& f) {
  std::string text;
  const auto add = [&text](const std::string& seen) { text += (text.empty() ? "" : ", ") + seen; };
  // A pump stopped by its limit reads its pressure falling afterwards:
  // the last reading while it delivered tells the limit it met.
  const std::optional<PollRow>& seen = f.lastFlowing ? f.lastFlowing : f.lastRunning;
  if (seen) {
    if (const std::string cause = LimitCause(*seen, f.limits); !cause.empty()) add(cause);
  }
  if (f.last && f.last->flow == 0 && f.methodFlow > 0) add("flow dropped to 0");
  if (f.last && f.last->error) add("the instruments report: " + Utf8FromWindows1252(OneLineText(f.last->errorText)));
  return text.empty() ? "the instruments stopped it" : text;
}

}  // namespace

int PressureLimits::UpperAt(double minutes) const {
  int limit = upper;
  for (const auto& [time, bar] : upperSteps) {
    if (time <= minutes) limit = bar;
  }
  return limit;
}

PressureLimits LimitsSent(const QuarnMethod& method, Transport transport) {
  PressureLimits limits;
  limits.lower = method.GetPumpInitialCons().MinPressure();
  limits.upper = method.GetPumpInitialCons().MaxPressure();
  if (transport == Transport::kDirect) return limits;
  const PumpGradient& gradient = method.GetPumpGradient();
  for (int i = 0; i < gradient.GetCount(); ++i) {
    const GradTimeTableEntry* step = gradient.TableEntry(i);
    if (step->Pressure() > 0) limits.upperSteps.emplace_back(step->Time(), step->Pressure());
  }
  return limits;
}

std::string LimitCause(const PollRow& r, const PressureLimits& limits) {
  // Pressure moves between polls: a limit counts as reached when the last
  // reading was near it, or when its last rise (or fall) carried on for one
  // more poll would have passed it.
  const int upper = limits.UpperAt(r.waiting ? 0.0 : r.elapsedMinutes);
  const std::string reading = Fixed(r.pressure, 1) + " bar" +
                              (r.pressureRise > 0.5 ? " and rising" : r.pressureRise < -0.5 ? " and falling" : "") +
                              " at the last reading)";
  if (upper > 0 && r.pressure + std::max(0.0, r.pressureRise) >= upper * (1 - kLimitShare)) {
    return "pressure reached its limit of " + std::to_string(upper) + " bar (" + reading;
  }
  // Pressure falls after a stop whatever stopped it: only a pump still
  // delivering can have met its lower limit.
  if (limits.lower > 0 && r.pumpOn && r.flow > 0 &&
      r.pressure + std::min(0.0, r.pressureRise) <= limits.lower * (1 + kLimitShare)) {
    return "pressure fell to its lower limit of " + std::to_string(limits.lower) + " bar (" + reading;
  }
  return "";
}

std::string NoInjectionReason(const RunFacts& f) {
  if (!f.stopSignal.empty()) {
    return "the run was interrupted (" + f.stopSignal + ") " +
           (f.samplerSeen ? "during the injection sequence" : "before the injection");
  }
  if (!f.waitFailure.empty()) return "the run failed before the injection: " + f.waitFailure;
  if (!f.sampleStarted) {
    return f.failed && !f.failure.empty() ? "the sample was not started: " + f.failure
                                          : "the run ended before the sample was started";
  }
  if (f.samplerSeen) return "the autosampler began its injection sequence, but the run did not start after it";
  if (f.runTime > 0) return "the run started, but the autosampler did not report an injection sequence";
  if (f.failed && !f.failure.empty()) return f.failure;
  return "the autosampler did not report an injection sequence";
}

bool InjectionNotKnown(const RunFacts& f) {
  return f.injectionPlanned && !f.injected && (f.samplerSeen || f.runTime > 0);
}

std::string ResultOfOutcome(const std::string& outcome) {
  if (outcome.rfind("interrupted at ", 0) == 0) return "interrupted";
  const bool done = outcome.rfind("completed, ", 0) == 0 || outcome.rfind("equilibrated, ", 0) == 0 ||
                    outcome.rfind("shut down: ", 0) == 0;
  if (!done || outcome.find(", but hit by ") != std::string::npos) return "failed";
  const std::size_t but = outcome.find(", but ");
  if (but == std::string::npos) return "good";
  return outcome.compare(but, 50, ", but injected before the instruments were ready (") == 0 ? "not-ready" : "failed";
}

RunVerdict JudgeRun(const RunFacts& f) {
  RunVerdict v;
  if (!f.stopSignal.empty()) {
    v.outcome = "interrupted at " + OfLength(f) + " (" + f.stopSignal + ")";
    v.message = "the run was " + v.outcome + "; the instruments were stopped";
  } else if (!f.waitFailure.empty()) {
    v.outcome = "failed before the injection: " + f.waitFailure;
    v.message = "the run " + v.outcome;
  } else if (f.failed) {
    v.outcome = "failed at " + OfLength(f) + (f.failure.empty() ? "" : ": " + f.failure) +
                (!InjectionNotKnown(f) ? ""
                 : f.samplerSeen       ? "; the autosampler had begun its injection sequence"
                                       : "; the run had started without the autosampler reporting an injection sequence");
    v.message = "the run " + v.outcome;
  } else if (f.runTime < f.runLength - kEarlyEndMinutes) {
    v.outcome = "ended at " + OfLength(f) + ": " + EarlyEndCause(f) +
                (f.injected        ? ""
                 : f.samplerSeen   ? "; the autosampler had begun its injection sequence, and the run did not start"
                 : InjectionNotKnown(f) ? "; the run started without the autosampler reporting an injection sequence"
                                        : "; no sample was injected");
    v.message = "the run " + v.outcome;
  } else if (!f.injected && f.injectionPlanned) {
    v.outcome = (InjectionNotKnown(f) ? "injection not known: " : "no injection: ") + NoInjectionReason(f);
    v.message = (InjectionNotKnown(f) ? "the run ended with its " : "the run had ") + v.outcome;
  } else if (!f.notReady.empty()) {
    v.notReady = true;
    v.outcome = "completed, " + OfLength(f) + ", but injected before the instruments were ready (" + f.notReady + ")";
    v.message = "the run " + v.outcome;
  } else {
    v.good = true;
    v.outcome = !f.doneText.empty()   ? f.doneText
                : f.injectionPlanned ? "completed, " + OfLength(f)
                                     : "completed, " + OfLength(f) + ", without an injection";
  }
  if (f.faultsHit.empty()) return v;
  std::string hit;
  for (const std::string& fault : f.faultsHit) hit += (hit.empty() ? "" : ", ") + fault;
  if (v.good || v.notReady) {
    v.good = false;
    v.notReady = false;
    v.outcome += ", but hit by the injected fault " + hit + ": not a valid run";
    v.message = "the run " + v.outcome;
  } else {
    v.outcome += "; injected fault: " + hit;
    v.message += "; injected fault: " + hit;
  }
  return v;
}

}  // namespace host
