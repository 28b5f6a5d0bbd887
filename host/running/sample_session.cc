#include "host/running/sample_session.h"

#include "host/harness/simulated_column.h"
#include "host/system/host_system.h"
#include "host/text/display_text.h"
#include "platform/inlet/inlet.h"

namespace host {

SamplePlan PlanSample(const CheckedMethod& method, Transport transport, const SimulatedPath& options,
                      const ReadyRules& ready) {
  SamplePlan plan;
  plan.methodPath = method.path;
  plan.method = &method.method;
  plan.transport = transport;
  plan.warnings = method.LogbookLines();
  plan.bottles = method.solventLines;
  plan.simulatedPath = method.simulated.Under(options);
  plan.ready = ready;
  return plan;
}

SampleSession::SampleSession(Transport transport, const SimulatedPath& options, TerminalUi& ui, bool pumpOffWhenClosed)
    : m_transport(transport), m_options(options), m_ui(ui), m_pumpOff(pumpOffWhenClosed) {}

SampleSession::~SampleSession() {
  Close();
  m_devices.reset();
  ReleaseSimulators();
}

void SampleSession::Fit(const CheckedMethod& method) {
  PrepareSimulators(method.bottleLabels, m_transport);
  m_fitted = method.simulated.Under(m_options);
  FitSimulatedPath(m_fitted, m_transport);
}

void SampleSession::Close() {
  if (!m_open) return;
  m_open = false;
  m_loaded.clear();
  try {
    m_devices->StopMethods();
    if (m_pumpOff) m_devices->pump.SwitchPump(Off);
    m_devices->Close();
  } catch (const CCommunicationsException&) {
    // The link is gone; closing is as far as it can go.
  }
}

bool SampleSession::OpenAndLoad(SampleRun& sample, const CheckedMethod& method) {
  const auto stop = [&sample] { return sample.StopRequested(); };
  bool stopped = false;
  if (!m_open) {
    if (m_serverLost) {
      // The devices that used a lost server go with it, and the next
      // open reaches a new one.
      m_devices.reset();
      ReleaseSimulators();
      m_serverLost = false;
    }
    if (!method.path.empty()) Fit(method);
    if (const std::string program = SimulatedServerProgram(m_transport); !program.empty()) {
      m_ui.Note("The simulated server runs in its own program, " + program + "; this program is process " +
                std::to_string(OwnProcessId()) + ".");
    }
    sample.InjectFaults(false);
    m_ui.Note("Opening communications with the instruments...");
    // The last sample's closed devices go before the new ones are built:
    // the plug-in keeps one set of back-ends per process.
    m_devices.reset();
    m_devices = std::make_unique<DeviceSet>();
    m_open = true;
    if (const std::string why = m_devices->Open(stop, stopped); !why.empty() || stopped) {
      if (!why.empty()) sample.Failed(why);
      return false;
    }
  } else {
    sample.InjectFaults(false);
  }
  // Nothing to load for a shutdown without a method.
  if (m_loaded == method.path || method.path.empty()) return true;
  // A column is changed with the flow stopped, as a user changes one: the
  // last method's flow through the next column could trip the pump.
  if (!m_loaded.empty() && !SameColumn(m_fitted, method.simulated.Under(m_options)) &&
      !sample.StopFlow(*m_devices, "Stopping the flow for a column change: " + EscapeControls(method.path) +
                                       " names another column than the last method...")) {
    sample.Failed("the pump gave no status: communications are not open");
    return false;
  }
  m_ui.Note("Loading method " + EscapeControls(method.path) + "...");
  Fit(method);
  if (const std::string why = m_devices->Load(sample.DeviceMethodPath(), stop, stopped); !why.empty() || stopped) {
    if (!why.empty()) sample.Failed(why);
    return false;
  }
  m_loaded = method.path;
  return true;
}

void SampleSession::Run(SampleRun& sample, const CheckedMethod& method) {
  bool loaded = false;
  try {
    loaded = OpenAndLoad(sample, method);
    if (loaded) {
      if (!method.path.empty()) sample.RecordReports(*m_devices);
      sample.Run(*m_devices);
    }
    sample.Over();
  } catch (const CCommunicationsException& e) {
    sample.CommunicationsFailed(e.GetErrorMessage().str(), loaded);
    sample.Over();
    Close();
  }
  if (sample.ServerLost()) {
    m_serverLost = true;
    Close();
  }
}

}  // namespace host
