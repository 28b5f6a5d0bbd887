// QuarnMethod::Print: the method as the experiment record shows it.
// The layout is documented in docs/method-files.md ("Reports").

#include <cstring>

#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"

namespace {

class Report {
 public:
  explicit Report(CGenericExpRecord* record) : m_record(record) {}

  void Line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    CString text;
    text.FormatV(format, args);
    va_end(args);
    text += "\n";
    m_record->AppendText(text);
  }
  void Blank() { m_record->AppendText("\n"); }

  // A heading underlined to its length.
  void Heading(const char* text) {
    Line("%s", text);
    Line("%s", CString('=', static_cast<int>(std::strlen(text))).GetString());
  }
  // "  Label                  : value"; an empty label continues the
  // field above.
  void Field(const char* label, const CString& value) {
    Line(*label ? "  %-22s : %s" : "  %-22s   %s", label, value.GetString());
  }

 private:
  CGenericExpRecord* m_record;
};


const char* SystemName(int setting) {
  switch (setting) {
    case pumpSystemIsocratic:
      return "Isocratic (one pump)";
    case pumpSystemBinary:
      return "Binary (two pumps)";
    case pumpSystemQuaternary:
      return "Quaternary (one pump, four channels)";
    case pumpSystemTernary:
      return "Ternary (three pumps)";
    default:
      return "Unknown";
  }
}

CString ActionName(int action) {
  switch (action) {
    case actionPulse:
      return "Pulse";
    case actionOff:
      return "Off";
    case actionOn:
      return "On";
    default:
      if (action >= actionPosition1 && action <= actionPosition6) return CStringF::Format("Position %d", action);
      return CStringF::Format("Code %d", action);
  }
}

CString OutputName(int type) {
  if (type >= eventOutput1 && type <= eventOutput4) return CStringF::Format("Event %d", type - eventOutput1 + 1);
  if (type >= eventValve1 && type <= eventValve3) return CStringF::Format("Valve %d", type - eventValve1 + 1);
  return CStringF::Format("Type %d", type);
}

// The method's own lines: title, file, description.
void WriteIdentity(Report& r, const QuarnMethod& method) {
  if (!method.Title().IsEmpty()) r.Field("Method", method.Title());
  if (!method.GetFileName().IsEmpty()) r.Field("File", method.GetFileName());
  if (!method.Description().IsEmpty()) {
    // One line per line of the description, the later ones aligned.
    const std::string& text = method.Description().str();
    std::size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
      std::size_t stop = text.find('\n', start);
      if (stop == std::string::npos) stop = text.size();
      std::string line = text.substr(start, stop - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      r.Field(first ? "Description" : "", CString(std::string_view(line)));
      first = false;
      start = stop + 1;
    }
  }
}

void PrintPump(Report& r, const QuarnMethod& method) {
  const PumpInitialCons& pump = method.GetPumpInitialCons();
  const SolventSelection& solvents = method.GetSolventSelection();
  r.Heading("Pump Method");
  WriteIdentity(r, method);
  r.Blank();

  r.Line("Initial Conditions");
  r.Field("Pump system", SystemName(pump.PumpSystem()));
  r.Field("Flow", CStringF::Format("%.3f ml/min", static_cast<double>(pump.Flow())));
  r.Field("Pressure limits", CStringF::Format("%d to %d bar", pump.MinPressure(), pump.MaxPressure()));
  r.Field("Stop time", CStringF::Format("%.2f min", static_cast<double>(pump.StopTime())));
  const double a = 100.0 - pump.PercentB() - pump.PercentC() - pump.PercentD();
  r.Field("Composition", CStringF::Format("A %.1f %%  B %.1f %%  C %.1f %%  D %.1f %%", a,
                                   static_cast<double>(pump.PercentB()), static_cast<double>(pump.PercentC()),
                                   static_cast<double>(pump.PercentD())));
  static const char* const kSolventLabels[] = {"Solvent A", "Solvent B", "Solvent C", "Solvent D"};
  for (int c = 0; c < 4; ++c) {
    if (!solvents.InUse(c)) continue;
    r.Field(kSolventLabels[c], solvents.Name(c).IsEmpty() ? CString("(in use, not named)") : solvents.Name(c));
  }
  r.Field("Column oven", pump.OvenInUse() == 1
                             ? CStringF::Format("%.1f \xB0" "C", static_cast<double>(pump.OvenTemperature()))
                             : CString("Not used"));
  r.Blank();

  r.Line("Gradient Timetable");
  const PumpGradient& gradient = method.GetPumpGradient();
  if (gradient.GetCount() == 0) {
    r.Line("  None: the initial conditions hold for the whole run.");
  } else {
    r.Line("  %8s  %8s  %6s  %6s  %6s  %6s  %6s", "Time", "Flow", "%A", "%B", "%C", "%D", "Pmax");
    r.Line("  %8s  %8s  %6s  %6s  %6s  %6s  %6s", "(min)", "(ml/min)", "", "", "", "", "(bar)");
    for (int i = 0; i < gradient.GetCount(); ++i) {
      const GradTimeTableEntry& e = *gradient.TableEntry(i);
      const double stepA = 100.0 - e.PercentB() - e.PercentC() - e.PercentD();
      r.Line("  %8.2f  %8.3f  %6.1f  %6.1f  %6.1f  %6.1f  %6d", static_cast<double>(e.Time()),
             static_cast<double>(e.Flow()), stepA, static_cast<double>(e.PercentB()),
             static_cast<double>(e.PercentC()), static_cast<double>(e.PercentD()), e.Pressure());
    }
  }
  r.Blank();

  r.Line("Initial Events");
  const InitialEventStates& initial = method.GetInitialEventStates();
  CString outputs = " ";
  for (int type = eventOutput1; type <= eventOutput4; ++type) {
    outputs += CStringF::Format(" %s: %-11s", OutputName(type).GetString(),
                         ActionName(initial.State(static_cast<EventType>(type))).GetString());
  }
  outputs.TrimRight();
  r.Line("%s", outputs.GetString());
  CString valves = " ";
  for (int type = eventValve1; type <= eventValve3; ++type) {
    valves += CStringF::Format(" %s: %-11s", OutputName(type).GetString(),
                        ActionName(initial.State(static_cast<EventType>(type))).GetString());
  }
  valves.TrimRight();
  r.Line("%s", valves.GetString());
  r.Blank();

  r.Line("Timed Events");
  const CEventTable& events = method.GetEventTable();
  if (events.GetCount() == 0) {
    r.Line("  None");
  } else {
    r.Line("  %8s  %-8s  %s", "Time", "Output", "Action");
    r.Line("  %8s", "(min)");
    CExternalEvent event;
    for (int i = 0; events.GetTableEntry(i, event); ++i) {
      r.Line("  %8.2f  %-8s  %s", static_cast<double>(event.Time()), OutputName(event.Event()).GetString(),
             ActionName(event.Action()).GetString());
    }
  }
  r.Blank();
}

void PrintSampler(Report& r, const QuarnMethod& method) {
  const SamplerInitialCons& sampler = method.GetSamplerInitialCons();
  r.Heading("Autosampler Method");
  WriteIdentity(r, method);
  r.Blank();
  r.Field("Vial", CStringF::Format("%d", sampler.VialNumber()));
  r.Field("Injection volume", CStringF::Format("%.2f \xB5" "l", static_cast<double>(sampler.InjectionVolume())));
  r.Field("Analysis time", CStringF::Format("%.2f min", static_cast<double>(sampler.AnalysisTime())));
  r.Field("Flushes", CStringF::Format("%d", sampler.Flushes()));
  r.Blank();
}

void PrintUV(Report& r, const QuarnMethod& method) {
  const UVDetectorCons& uv = method.GetUVDetectorCons();
  r.Heading("UV Detector Method");
  WriteIdentity(r, method);
  r.Blank();
  r.Field("Wavelength", CStringF::Format("%d nm", uv.Wavelength()));
  CString response;
  switch (uv.Response()) {
    case uvResponseFast:
      response = "Fast";
      break;
    case uvResponseStandard:
      response = "Standard";
      break;
    case uvResponseSlow:
      response = "Slow";
      break;
    default:
      response = CStringF::Format("Setting %d", uv.Response());
  }
  r.Field("Response", response);
  r.Field("Autozero at start", uv.ZeroSetting() == 1 ? "Yes" : "No");
  r.Blank();
}

}  // namespace

void QuarnMethod::Print(CGenericExpRecord* record, const char* unit) const {
  if (!record || !unit) return;
  Report report(record);
  if (std::strcmp(unit, "PUMP") == 0) {
    PrintPump(report, *this);
  } else if (std::strcmp(unit, "AUTOSAMPLER") == 0) {
    PrintSampler(report, *this);
  } else if (std::strcmp(unit, "UVDETECTOR") == 0) {
    PrintUV(report, *this);
  }
}
