#include "host/harness/simulators.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "host/harness/simulator.h"
#include "host/system/host_system.h"
#include "host/text/display_text.h"

namespace host {

std::string ReadSolventOptions(const std::vector<std::string>& texts, SolventLabels& labels) {
  for (const std::string& text : texts) {
    const char letter = static_cast<char>(std::toupper(text.empty() ? ' ' : static_cast<unsigned char>(text[0])));
    if (text.size() < 2 || text[1] != '=' || letter < 'A' || letter > 'D') {
      return "--solvent '" + text + "': expected CHANNEL=SOLVENT with CHANNEL A, B, C or D (as in --solvent B=methanol)";
    }
    std::string& label = labels[static_cast<std::size_t>(letter - 'A')];
    if (!label.empty()) return "--solvent '" + text + "': channel " + letter + " is given twice";
    label = text.substr(2);
    if (Simulator() && !Simulator()->KnowsSolvent(label)) {
      return "--solvent '" + text + "': '" + label +
             "' is not a solvent the simulator knows; expected water, methanol, acetonitrile, tetrahydrofuran, "
             "isopropanol, a premix of them such as 'acetonitrile/water 90:10' or '30 % methanol in water', or an "
             "aqueous buffer such as '20 mM KH2PO4 pH 2.5' (docs/simulator.md)";
    }
  }
  return "";
}

std::vector<SolventLine> SimulatedSolvents(const QuarnMethod& method, const MethodKeyLines& lines,
                                           const SolventLabels& given, Transport transport, SolventLabels& labels) {
  const SolventSelection& solvents = method.GetSolventSelection();
  for (std::size_t i = 0; i < labels.size(); ++i) {
    labels[i] = given[i].empty() ? solvents.Name(static_cast<int>(i)).str() : given[i];
  }
  std::vector<SolventLine> said;
  if (!Simulator()) return said;
  const auto read = Simulator()->ReadSolventLabels(labels);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (!solvents.InUse(static_cast<int>(i)) || (i == 3 && transport == Transport::kDirect)) continue;
    const std::string letter(1, static_cast<char>('A' + i));
    const std::string& as = read[i].simulatedAs;
    const std::string label = "\"" + EscapeControls(Utf8FromWindows1252(labels[i])) + "\"";
    if (read[i].reading == sim::LabelReading::kUnnamed) {
      said.push_back({"solvent " + letter + " is not named; it is simulated as " + as, false});
    } else if (read[i].reading == sim::LabelReading::kNamed || read[i].reading == sim::LabelReading::kAqueous) {
      const bool aqueous = read[i].reading == sim::LabelReading::kAqueous;
      said.push_back({"solvent " + letter + " " + label + (given[i].empty() ? "" : " (--solvent " + letter + ")") +
                          (aqueous ? " is read as an aqueous buffer: simulated as " : " is simulated as ") + as,
                      false});
    } else {
      const std::string key = "solvents." + std::string(1, static_cast<char>('a' + i));
      const auto line = lines.find(key);
      const MethodWarning warning{line == lines.end() ? 0 : line->second, key,
                                  "solvent " + letter + " " + label +
                                      " is not a solvent the simulator knows; it is simulated as " + as +
                                      " (name it with --solvent " + letter + "=NAME)",
                                  false, true};
      said.push_back({DescribeMethodWarning(warning, Transport::kDirect), true});
    }
  }
  return said;
}

sim::Control* Simulator() {
  // Looked up once: the libraries a process loaded at its start stay.
  static sim::Control* const control = [] {
    const auto find = reinterpret_cast<sim::Control* (*)()>(LoadedFunction("quarnsim.dll", "QuarnSimulatorControl"));
    return find ? find() : nullptr;
  }();
  return control;
}

bool SimulatorPresent() { return Simulator() != nullptr; }

sim::Side SideOf(Transport transport) { return transport == Transport::kServer ? sim::Side::kServer : sim::Side::kNetwork; }

void PrepareSimulators(const SolventLabels& bottles, Transport transport) {
  if (!Simulator()) return;
  if (transport == Transport::kServer) Simulator()->RegisterServer();
  Simulator()->FillBottles(SideOf(transport), bottles);
}

void RegisterSimulatedServer() {
  if (Simulator()) Simulator()->RegisterServer();
}

void ReleaseSimulators() {
  if (Simulator()) Simulator()->Disconnect();
}

std::string SimulatedServerProgram(Transport transport) {
  return Simulator() && transport == Transport::kServer ? Simulator()->ServerProgram() : "";
}

std::string SimulatedServerLost(Transport transport) {
  return Simulator() && transport == Transport::kServer ? Simulator()->ServerLost() : "";
}

std::vector<std::string> TrayCompoundProblems(const Tray& tray) {
  std::vector<std::string> problems;
  if (!Simulator()) return problems;
  const std::vector<std::string> known = Simulator()->CompoundNames();
  std::string list;
  for (const std::string& name : known) list += (list.empty() ? "" : ", ") + name;
  const auto knows = [&](const std::string& name) {
    return std::any_of(known.begin(), known.end(), [&](const std::string& k) {
      return k.size() == name.size() && std::equal(k.begin(), k.end(), name.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
             });
    });
  };
  for (const auto& [name, sample] : tray.samples) {
    for (const auto& [compound, mgPerL] : sample.compounds) {
      if (knows(compound)) continue;
      problems.push_back(EscapeControls(tray.file.string()) + ": line " + std::to_string(sample.line) + ": sample." +
                         EscapeControls(name) + ": the simulator knows no compound \"" + EscapeControls(compound) +
                         "\" (it knows " + list + ")");
    }
  }
  return problems;
}

std::string PlaceSimulatedSample(Transport transport, int vial, const SampleDescription* sample) {
  if (!Simulator()) return "";
  try {
    Simulator()->PlaceSample(SideOf(transport), vial, sample ? sample->compounds : sim::SampleContents{});
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

static_assert(kSpectrumFromNm == sim::DetectorRecording::kSpectrumFromNm &&
              kSpectrumStepNm == sim::DetectorRecording::kSpectrumStepNm &&
              kDetectorPeriodMin == sim::DetectorRecording::kPeriodMin);

std::optional<DetectorData> TakeDetectorData(Transport transport, std::size_t fromSample, std::size_t fromPeak) {
  if (!Simulator()) return std::nullopt;
  sim::DetectorRecording r;
  try {
    r = Simulator()->Recording(SideOf(transport), fromSample, fromPeak);
  } catch (const std::exception&) {
    // The simulators could not be reached (their program ended): the run
    // finds that out itself; the chromatogram keeps what was taken.
    return std::nullopt;
  }
  DetectorData data{r.injected, r.vial, r.wavelengthNm, r.firstSample, std::move(r.signalMau), {}, std::move(r.unknown)};
  for (sim::RecordedPeak& peak : r.peaks) {
    data.peaks.push_back({std::move(peak.compound), peak.apexMin, peak.sigmaMin, std::move(peak.spectrum)});
  }
  return data;
}

void QuietSimulatorLogs(Transport transport) {
  if (!Simulator()) return;
  Simulator()->KeepLogs(sim::Side::kNetwork, false);
  if (transport == Transport::kServer) Simulator()->KeepLogs(sim::Side::kServer, false);
}

void TraceSimulatedServer(std::function<void(const std::string&)> sink) {
  if (Simulator()) Simulator()->TraceServer(std::move(sink));
}

}  // namespace host
