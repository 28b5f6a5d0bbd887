#include "host/inputs/transport_checks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "network/timetable_limits.h"

namespace host {

namespace {

// The decimal a user wrote for a value the method keeps as a float: the
// shortest text that reads back as that float (0.7f -> 0.7).
double Written(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer - 1, value);
  *result.ptr = '\0';
  return std::strtod(buffer, nullptr);
}

// What the direct pump does to a value: cut off toward zero, kept within
// the 32-bit range of the records.
std::int64_t Truncate(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<std::int64_t>(std::clamp(value, -2147483648.0, 2147483647.0));
}

bool Differs(double sent, double written) { return std::fabs(sent - written) > 1e-6; }

std::string Num(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10g", value);
  return buffer;
}

// Millilitres or microlitres from whole thousandths: "0.699".
std::string Thousandths(double wholeThousandths) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.3f", wholeThousandths / 1000.0);
  return buffer;
}

class DirectCheck {
 public:
  DirectCheck(const QuarnMethod& method, const MethodKeyLines& lines) : m_method(method), m_lines(lines) {}

  std::vector<MethodWarning> Run() {
    const PumpInitialCons& pump = m_method.GetPumpInitialCons();
    CheckStartingFlow(pump.Flow());
    if (HasComposition()) CheckComposition("pump", pump.PercentB(), pump.PercentC(), pump.PercentD());
    CheckTimetable();
    CheckOven();
    CheckEvents();
    CheckSampler();
    if (m_method.GetUVDetectorCons().ZeroSetting() && Has("uv.autozero")) {
      Warn("uv.autozero", "does not send autozero: the detector is not zeroed at the start of the run");
    }
    return m_warnings;
  }

 private:
  bool Has(const std::string& key) const { return m_lines.count(key) != 0; }
  int Line(const std::string& key) const {
    const auto found = m_lines.find(key);
    return found == m_lines.end() ? 0 : found->second;
  }
  void Warn(const std::string& key, const std::string& text) { m_warnings.push_back({Line(key), key, text}); }
  void Refuse(const std::string& key, const std::string& text) {
    m_warnings.push_back({Line(key), key, text, true});
  }

  // The pump system whose system code is 1 (isocratic) gets no
  // composition line and no timetable.
  bool HasComposition() const {
    const int system = m_method.GetPumpInitialCons().PumpSystem();
    return system == pumpSystemBinary || system == pumpSystemQuaternary || system == pumpSystemTernary;
  }

  void CheckStartingFlow(float flow) {
    const double sentUl = static_cast<double>(Truncate(static_cast<double>(flow) * 1000.0));
    if (!Differs(sentUl, Written(flow) * 1000.0)) return;
    Warn("pump.flow", "sends the starting flow in whole µl/min, cut off: " + Num(Written(flow)) +
                          " ml/min starts as " + Thousandths(sentUl) + " ml/min");
  }

  // Whole percent of B and C (rounded; 0 for a solvent not in use) and A
  // the remainder; D has no channel.
  void CheckComposition(const std::string& prefix, float b, float c, float d) {
    const SolventSelection& solvents = m_method.GetSolventSelection();
    std::int64_t sent[3] = {100, 0, 0};
    const float shares[3] = {0.0f, b, c};
    for (int channel = 1; channel <= 2; ++channel) {
      if (!solvents.InUse(channel)) continue;
      sent[channel] = Truncate(static_cast<double>(shares[channel]) + 0.5);
      sent[0] -= sent[channel];
    }
    const std::string runsAs = "A " + std::to_string(sent[0]) + " %, B " + std::to_string(sent[1]) + " %, C " +
                               std::to_string(sent[2]) + " %";
    const char* const keys[3] = {nullptr, ".percent_b", ".percent_c"};
    const char* const letters[3] = {"A", "B", "C"};
    for (int channel = 1; channel <= 2; ++channel) {
      const std::string key = prefix + keys[channel];
      if (!Has(key) || !Differs(static_cast<double>(sent[channel]), Written(shares[channel]))) continue;
      Warn(key, "sends whole percent: " + Num(Written(shares[channel])) + " % " + letters[channel] + " runs as " +
                    std::to_string(sent[channel]) + " % (" + runsAs + ")");
    }
    if (d > 0.0f && Has(prefix + ".percent_d")) {
      Warn(prefix + ".percent_d", "has no solvent D channel: its share runs as A (" + Num(Written(d)) +
                                      " % D; the run gets " + runsAs + ")");
    }
  }

  void CheckTimetable() {
    const PumpGradient& gradient = m_method.GetPumpGradient();
    const int count = gradient.GetCount();
    if (count == 0) return;
    const std::string first = Has("pump.timetable") ? "pump.timetable" : "pump.timetable[1]";
    if (!HasComposition()) {
      Warn(first, "sends no gradient timetable for an isocratic pump system: its " +
                      std::to_string(count) + (count == 1 ? " step is" : " steps are") +
                      " not sent and the starting conditions hold for the whole run");
      return;
    }
    if (count > kDirectMaxGradientSteps) {
      const std::string key = "pump.timetable[" + std::to_string(kDirectMaxGradientSteps + 1) + "]";
      Refuse(Has(key) ? key : first, "holds " + std::to_string(kDirectMaxGradientSteps) +
                                       " gradient steps and this timetable has " + std::to_string(count) +
                                       ": the pump refuses to load the method, so the run does not start");
    }
    const int maxPressure = m_method.GetPumpInitialCons().MaxPressure();
    for (int i = 0; i < count; ++i) {
      const GradTimeTableEntry& step = *gradient.TableEntry(i);
      const std::string prefix = "pump.timetable[" + std::to_string(i + 1) + "]";
      const double sentMs = static_cast<double>(Truncate(static_cast<double>(step.Time() * 60000.0f)));
      if (Has(prefix + ".time") && std::fabs(sentMs - Written(step.Time()) * 60000.0) >= 1.0) {
        Warn(prefix + ".time", "counts step times in whole milliseconds: " + Num(Written(step.Time())) +
                                   " min runs at " + Num(sentMs / 60000.0) + " min");
      }
      const double sentUl = static_cast<double>(Truncate(static_cast<double>(step.Flow()) * 1000.0 + 0.5));
      if (Has(prefix + ".flow") && Differs(sentUl, Written(step.Flow()) * 1000.0)) {
        Warn(prefix + ".flow", "sends flows in whole µl/min: " + Num(Written(step.Flow())) + " ml/min runs as " +
                                   Thousandths(sentUl) + " ml/min");
      }
      CheckComposition(prefix, step.PercentB(), step.PercentC(), step.PercentD());
      if (Has(prefix + ".max_pressure") && step.Pressure() != maxPressure) {
        Warn(prefix + ".max_pressure",
             "keeps the upper pressure limit of [pump] (" + std::to_string(maxPressure) +
                 " bar) for the whole run: this step's " + std::to_string(step.Pressure()) + " bar is not sent");
      }
    }
  }

  void CheckOven() {
    const PumpInitialCons& pump = m_method.GetPumpInitialCons();
    if (!pump.OvenInUse() || !Has("oven.temperature")) return;
    const double written = Written(pump.OvenTemperature());
    const std::int64_t run = Truncate(static_cast<double>(pump.OvenTemperature()) + 0.5);
    const std::int64_t before = Truncate(static_cast<double>(pump.OvenTemperature()));
    if (!Differs(static_cast<double>(run), written) && run == before) return;
    Warn("oven.temperature", "sets whole degrees: oven temperature " + Num(written) + " \u00b0C runs as " +
                                 std::to_string(run) + " \u00b0C" +
                                 (run != before ? " (" + std::to_string(before) + " \u00b0C until the run starts)"
                                                : ""));
  }

  void CheckEvents() {
    for (const auto& [key, line] : m_lines) {
      if (key.rfind("events.initial.", 0) == 0) {
        Warn(key, "does not send the states of outputs and valves: " + key.substr(15) +
                      " is not set at the start of the run");
      }
      if (key.rfind("events.timed[", 0) != 0 || key.back() != ']') continue;
      std::string switched;
      for (auto it = m_lines.upper_bound(key + "."); it != m_lines.end() && it->first.rfind(key + ".", 0) == 0;
           ++it) {
        const std::string name = it->first.substr(key.size() + 1);
        if (name != "time") switched += (switched.empty() ? "" : ", ") + name;
      }
      Warn(key, "does not send timed events: " + switched + " will not switch here");
    }
  }

  void CheckSampler() {
    const SamplerInitialCons& sampler = m_method.GetSamplerInitialCons();
    const double stopMin = Written(m_method.GetPumpInitialCons().StopTime());
    const double analysisMin = Written(sampler.AnalysisTime());
    // A sample run lasts the analysis time, sent in whole seconds.
    const std::string timeKey = Has("autosampler.analysis_time") ? "autosampler.analysis_time" : "pump.stop_time";
    const double sentS = static_cast<double>(Truncate(static_cast<double>(sampler.AnalysisTime() * 60.0f)));
    if (sentS <= 0) {
      Refuse(timeKey, "sends the length of a sample run in whole seconds: " + Num(analysisMin) +
                          " min runs as 0 s: the run would end as it starts");
    } else if (Differs(sentS, analysisMin * 60.0)) {
      Warn(timeKey, "sends the length of a sample run in whole seconds: " + Num(analysisMin) + " min (" +
                        Num(analysisMin * 60.0) + " s) runs as " + Num(sentS) + " s");
    }
    if (Has("autosampler.analysis_time") && Differs(analysisMin, stopMin)) {
      std::string text = "runs a sample run for the autosampler's analysis time (" + Num(analysisMin) +
                         " min), which is " + (analysisMin < stopMin ? "shorter" : "longer") +
                         " than the pump's stop time (" + Num(stopMin) + " min): ";
      if (analysisMin < stopMin) {
        text += "the run ends at " + Num(analysisMin) + " min and the method's last " + Num(stopMin - analysisMin) +
                " min do not run";
      } else {
        text += "the run goes on to " + Num(analysisMin) + " min at the conditions the method ends with";
        if (analysisMin - stopMin > kRunEndMarginMinutes) {
          text += "; quarn-host waits at most " + Num(kRunEndMarginMinutes) +
                  " min past the stop time, so it stops the run at " + Num(stopMin + kRunEndMarginMinutes) +
                  " min and reports that it did not end";
        }
      }
      Warn("autosampler.analysis_time", text);
    }
    if (std::string why = VolumeRefusal(sampler.InjectionVolume(), Transport::kDirect); !why.empty()) {
      Refuse("autosampler.injection_volume", why);
    } else if (Has("autosampler.injection_volume")) {
      const double sentNl = static_cast<double>(Truncate(static_cast<double>(sampler.InjectionVolume() * 1000.0f)));
      if (Differs(sentNl, Written(sampler.InjectionVolume()) * 1000.0)) {
        Warn("autosampler.injection_volume", "sends volumes in whole nanolitres: " +
                                                 Num(Written(sampler.InjectionVolume())) + " µl runs as " +
                                                 Thousandths(sentNl) + " µl");
      }
    }
  }

  const QuarnMethod& m_method;
  const MethodKeyLines& m_lines;
  std::vector<MethodWarning> m_warnings;
};


// What the server transport does to a method: the autosampler's time goes
// in whole minutes. (The shares it leaves out, of a channel the pump
// system lacks or that is not in use, never load from a method file.)
std::vector<MethodWarning> ServerWarnings(const QuarnMethod& method, const MethodKeyLines& lines) {
  std::vector<MethodWarning> found;
  const auto lineOf = [&](const std::string& key) {
    const auto line = lines.find(key);
    return line == lines.end() ? 0 : line->second;
  };
  const bool ownTime = lines.count("autosampler.analysis_time") != 0;
  const std::string timeKey = ownTime ? "autosampler.analysis_time" : "pump.stop_time";
  const double minutes = Written(method.GetSamplerInitialCons().AnalysisTime());
  // The pump's run length goes as it is; a run shorter than the host's
  // poll can start and end unseen.
  if (!(minutes * 60.0 >= 1.0)) {
    found.push_back({lineOf(timeKey), timeKey,
                     "runs a sample run of " + Num(minutes) + " min (" + Num(minutes * 60.0) +
                         " s), shorter than a poll (1 s): the run could start and end unseen",
                     true});
  }
  if (ownTime && minutes != std::trunc(minutes)) {
    found.push_back({lineOf(timeKey), timeKey,
                     "sends the autosampler's time in whole minutes: " + Num(minutes) + " min is sent as " +
                         Num(std::trunc(minutes)) + " min"});
  }
  if (std::string why = VolumeRefusal(method.GetSamplerInitialCons().InjectionVolume(), Transport::kServer);
      !why.empty()) {
    found.push_back({lineOf("autosampler.injection_volume"), "autosampler.injection_volume", why, true});
  }
  return found;
}

// A step at 0 min that sets another flow or share than [pump]: the column
// is equilibrated at [pump]'s values while the run waits for the
// injection, and the run starts at the step's. Said on every transport
// that sends the timetable (the direct one has no channel D).
void AddStartingStepWarnings(const QuarnMethod& method, const MethodKeyLines& lines, Transport transport,
                             std::vector<MethodWarning>& found) {
  const PumpInitialCons& pump = method.GetPumpInitialCons();
  if (transport == Transport::kDirect && pump.PumpSystem() == pumpSystemIsocratic) return;
  const PumpGradient& gradient = method.GetPumpGradient();
  for (int i = 0; i < gradient.GetCount() && gradient.TableEntry(i)->Time() == 0.0f; ++i) {
    const GradTimeTableEntry& step = *gradient.TableEntry(i);
    const std::string prefix = "pump.timetable[" + std::to_string(i + 1) + "].";
    const std::tuple<const char*, float, float, const char*> values[] = {
        {"flow", pump.Flow(), step.Flow(), " ml/min"},
        {"percent_b", pump.PercentB(), step.PercentB(), " % B"},
        {"percent_c", pump.PercentC(), step.PercentC(), " % C"},
        {"percent_d", transport == Transport::kDirect ? 0.0f : pump.PercentD(),
         transport == Transport::kDirect ? 0.0f : step.PercentD(), " % D"}};
    for (const auto& [key, start, atStep, unit] : values) {
      const auto line = lines.find(prefix + key);
      if (line == lines.end() || !Differs(Written(start), Written(atStep))) continue;
      const auto startLine = lines.find(std::string("pump.") + key);
      const std::string where =
          startLine == lines.end() ? std::string(" (") + key + " not given)"
                                   : " (line " + std::to_string(startLine->second) + ")";
      found.push_back({line->second, line->first,
                       "the run starts at " + Num(Written(atStep)) + unit + " (this step at 0 min), but [pump] holds " +
                           Num(Written(start)) + unit + where + ": the column is equilibrated at " +
                           Num(Written(start)) + unit + " while the run waits for the injection",
                       false, true});
    }
  }
}

// An oven set point the oven cannot hold: the host would wait for it to
// be ready until its time-out.
void AddOvenRangeRefusal(const QuarnMethod& method, const MethodKeyLines& lines, std::vector<MethodWarning>& found) {
  const PumpInitialCons& pump = method.GetPumpInitialCons();
  const auto line = lines.find("oven.temperature");
  if (!pump.OvenInUse() || line == lines.end()) return;
  const double celsius = Written(pump.OvenTemperature());
  if (celsius >= kOvenLowestC && celsius <= kOvenHighestC) return;
  found.push_back({line->second, line->first,
                   "the column oven cannot hold " + Num(celsius) + " \u00b0C: it holds " + Num(kOvenLowestC) + " to " +
                       Num(kOvenHighestC) + " \u00b0C (forced air, no cooling: at least 5 \u00b0C above the room's " +
                       "25 \u00b0C), so it would never be ready",
                   true, true});
}

}  // namespace

std::string VolumeRefusal(double ul, Transport transport) {
  const double sentNl = static_cast<double>(Truncate(static_cast<double>(static_cast<float>(ul) * 1000.0f)));
  if (transport == Transport::kDirect && sentNl <= 0) {
    return "sends volumes in whole nanolitres: " + Num(Written(static_cast<float>(ul))) +
           " \u00b5l runs as 0 \u00b5l: nothing would be injected";
  }
  if (!(ul >= kMinInjectionUl)) {
    return "would inject " + Num(Written(static_cast<float>(ul))) + " \u00b5l, less than the 0.001 \u00b5l (1 nl) quarn-host takes for an "
           "injection";
  }
  return "";
}

const char* TransportName(Transport transport) { return transport == Transport::kDirect ? "direct" : "server"; }

std::vector<MethodWarning> TransportWarnings(const QuarnMethod& method, const MethodKeyLines& lines,
                                             Transport transport) {
  std::vector<MethodWarning> found =
      transport == Transport::kServer ? ServerWarnings(method, lines) : DirectCheck(method, lines).Run();
  AddStartingStepWarnings(method, lines, transport, found);
  AddOvenRangeRefusal(method, lines, found);
  std::stable_sort(found.begin(), found.end(),
                   [](const MethodWarning& a, const MethodWarning& b) { return a.line < b.line; });
  return found;
}

std::string DescribeMethodWarning(const MethodWarning& warning, Transport transport) {
  MethodFileProblem problem{warning.line, 0, warning.key, ""};
  return DescribeMethodFileProblem(problem) + (warning.refused ? "error" : "warning") + ": " +
         (warning.anyTransport ? "" : "the " + std::string(TransportName(transport)) + " transport ") + warning.text;
}

std::size_t PrintMethodWarnings(const std::string& path, const QuarnMethod& method, const MethodKeyLines& lines,
                                Transport transport, std::FILE* to, std::size_t* refused) {
  const auto warnings = TransportWarnings(method, lines, transport);
  if (refused) *refused = 0;
  for (const auto& warning : warnings) {
    std::fprintf(to, "%s: %s\n", path.c_str(), DescribeMethodWarning(warning, transport).c_str());
    if (refused && warning.refused) ++*refused;
  }
  std::fflush(to);
  return warnings.size();
}

}  // namespace host
