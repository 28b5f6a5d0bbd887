// `quarn-host run`: a method end to end, as the host drives the devices.
//
// The steps: the transport held for the process, the method read and
// checked for it, faults on demand checked against it, the run folder
// prepared and locked, the trace started; then one sample, as a sequence
// runs each of its samples (host/sample_session.h: the devices built,
// opened and loaded, the sample waited for, injected and polled), the
// devices stopped and closed, and the run judged. Every poll's
// merged reading goes to the terminal, status.csv (as it comes) and (with
// --json) standard output; the run folder gets the experiment record, the
// status picture, the solvent monitor document and the logbook as well.
//
// Faults given with --fault (host/faults.h) are injected into the
// simulators before opening or at their time after the sample start; a
// run one of them hit is never reported as a success, and its result
// names them.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "host/cli/commands.h"
#include "host/harness/simulators.h"
#include "host/outputs/run_folder.h"
#include "host/running/device_set.h"
#include "host/running/run_setup.h"
#include "host/running/sample_run.h"
#include "host/running/sample_session.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"
#include "platform/inlet/inlet.h"

namespace host {

namespace {

class RunSession {
 public:
  RunSession(const RunOptions& o, TerminalUi& ui) : m_o(o), m_ui(ui), m_trace(Transport::kDirect) {}
  int Run();

 private:
  // "" when every fault exists on the transport, else the refusal.
  std::string FaultsRefused() const;
  bool PrepareFolder();
  int Finish(SampleRun& sample);

  const RunOptions& m_o;
  TerminalUi& m_ui;
  Transport m_transport = Transport::kDirect;
  CheckedMethod m_method;
  Tray m_tray;
  RunFolder m_folder;
  RunTrace m_trace;
  std::unique_ptr<SampleSession> m_session;
};

std::string RunSession::FaultsRefused() const {
  for (const Fault& fault : m_o.faults) {
    if (HasTransport(*fault.kind, m_transport)) continue;
    return "--fault " + fault.text + ": the fault " + fault.kind->name + " exists on the " +
           FaultTransports(*fault.kind) + " transport only, and this run uses the " + TransportName(m_transport) +
           " transport (--transport or the transport setting)";
  }
  return "";
}

bool RunSession::PrepareFolder() {
  if (!m_folder.Prepare(m_o.out, m_method.stem, RunFiles(), m_o.force, false, m_ui)) return false;
  m_trace = RunTrace(m_transport);
  if (m_o.trace && !m_trace.Start(m_folder.Path())) {
    m_ui.Failure("cannot write the trace to " + (m_folder.Path() / m_trace.FileName()).string());
    return false;
  }
  return true;
}

int RunSession::Finish(SampleRun& sample) {
  const SampleResult r = sample.Finish(m_session->Devices());
  m_session.reset();
  std::vector<std::string> written = r.written;
  bool writeFailed = r.writeFailed;
  if (m_o.trace) {
    if (m_trace.Stop(m_ui)) {
      const auto logbook = std::find(written.begin(), written.end(), "logbook.txt");
      written.insert(logbook, m_trace.FileName());
    } else {
      writeFailed = true;
    }
  }
  int result = 0;
  if (!r.verdict.good) {
    m_ui.Failure(r.verdict.message);
    result = StopSignal() != 0 ? StopExitCode() : 1;
  } else {
    m_ui.Note("The run has ended: " + Fixed(r.runTime, 1) + " of " + Fixed(m_method.method.GetRunLength(), 1) +
              " min.");
  }
  if (writeFailed && result == 0) result = 1;
  if (m_o.mode == OutputMode::kNormal) {
    std::string list;
    for (const std::string& name : written) list += (list.empty() ? "" : ", ") + name;
    m_ui.Note("Files in " + m_folder.Path().string() + ": " + (list.empty() ? "none" : list));
  }
  return result;
}

int RunSession::Run() {
  if (const std::string why = TakeTransport(m_o.transport, m_transport); !why.empty()) return m_ui.Fail(why);
  // A fault the transport does not have: refused before anything is read
  // or changed.
  if (const std::string why = FaultsRefused(); !why.empty()) {
    m_ui.Failure(why);
    return 2;
  }
  if (const std::string why = LoadCheckedMethod(m_o.method, m_transport, m_method, stderr, m_ui, m_o.solvents); !why.empty()) {
    return m_ui.Fail(why);
  }
  const SamplerInitialCons& cons = m_method.method.GetSamplerInitialCons();
  SamplePlan plan = PlanSample(m_method, m_transport, m_o.simulated, m_o.ready);
  // Without --vial and --volume the method's own autosampler values hold.
  plan.vial = m_o.vial.value_or(cons.VialNumber());
  plan.volumeUl = m_o.volumeUl.value_or(cons.InjectionVolume());
  plan.faults = m_o.faults;
  if (SimulatorPresent()) {
    const std::filesystem::path beside = MethodTrayFile(m_method.path, m_method.stem);
    if (m_o.tray || !beside.empty()) m_tray = ReadTray(m_o.tray.value_or(beside));
    for (const std::string& problem : TrayCompoundProblems(m_tray)) m_tray.problems.push_back(problem);
    if (!m_tray.problems.empty()) {
      for (std::size_t i = 0; i + 1 < m_tray.problems.size(); ++i) m_ui.Failure(m_tray.problems[i]);
      return m_ui.Fail(m_tray.problems.back());
    }
    plan.sample = m_tray.For(plan.vial);
    plan.sampleSource = m_tray.file.empty() ? "" : m_tray.file.filename().string();
  }
  if (const std::string why = VolumeRefusal(plan.volumeUl, m_transport); m_o.volumeUl && !why.empty()) {
    return m_ui.Fail("--volume: the " + std::string(TransportName(m_transport)) + " transport " + why);
  }
  if (!PrepareFolder()) return 1;
  UseRunClock(m_o.virtualTime, m_o.speed, m_transport);
  const std::string& dir = m_folder.Path().string();
  m_ui.Note("Run folder: " + dir);
  if (m_o.mode == OutputMode::kJson) std::fprintf(stderr, "quarn-host: run folder: %s\n", EscapeControls(dir).c_str());
  m_ui.Note("Running " + EscapeControls(m_method.path) + " on the " + TransportName(m_transport) + " transport" +
            (m_o.transport ? " (--transport)." : " (the transport setting)."));
  if (SimulatorPresent()) {
    m_ui.Note("Simulated: " + DescribeSimulatedPath(plan.simulatedPath) + ".");
  } else {
    m_ui.Note("The " + std::string(kRealInstrumentsText) + ".");
  }

  SampleRun sample(plan, m_folder.Path(), m_ui, SampleDisplay{m_o.virtualTime, m_o.speed, true, "", std::nullopt});
  if (const std::string why = sample.OpenFiles(); !why.empty()) return m_ui.Fail(why);
  // A sequence of one sample: the same session, closed after it.
  m_session = std::make_unique<SampleSession>(m_transport, m_o.simulated, m_ui, false);
  m_session->Run(sample, m_method);
  m_session->Close();
  return Finish(sample);
}

}  // namespace

int RunMethodCommand(const RunOptions& options, TerminalUi& ui) {
  ClearStop();
  return RunSession(options, ui).Run();
}

}  // namespace host
