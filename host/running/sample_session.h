// The instruments as one command's samples hold them, for `run` (a list
// of one sample) and `sequence` alike: opened for the first sample and
// again after a failure closed them, a method loaded only when it differs
// from the one they hold, a column changed only with the flow stopped, and
// each sample waited for, injected, polled and judged by its SampleRun.
// Thread safety: host's thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/running/device_set.h"
#include "host/running/run_setup.h"
#include "host/running/sample_run.h"

namespace host {

// What a sample of `method` is, before its vial, volume, name and faults:
// the method, the transport, the simulated path the options leave it and
// the readiness rules.
SamplePlan PlanSample(const CheckedMethod& method, Transport transport, const SimulatedPath& options,
                      const ReadyRules& ready);

class SampleSession {
 public:
  // `pumpOffWhenClosed`: closing switches the pump off first (a sequence
  // leaves the column without flow; a single run leaves the pump as its
  // method's end left it).
  SampleSession(Transport transport, const SimulatedPath& options, TerminalUi& ui, bool pumpOffWhenClosed);
  ~SampleSession();
  SampleSession(const SampleSession&) = delete;
  SampleSession& operator=(const SampleSession&) = delete;

  // The devices of the last sample, still there once closed (its files
  // are written from them); null before the first sample.
  DeviceSet* Devices() { return m_devices.get(); }
  // Open: the next sample starts with the pump still delivering.
  bool IsOpen() const { return m_open; }

  // Opens the devices when closed and loads `method` (from the sample's
  // DeviceMethodPath) when they hold another; then waits, injects and
  // polls. A failure of communications closes the devices. May be
  // interrupted by a stop signal.
  void Run(SampleRun& sample, const CheckedMethod& method);
  // The next sample loads its method again, as it is then.
  void Reload() { m_loaded.clear(); }
  // Closing leaves the pump as it is (a standby flow after a shutdown).
  void KeepPumpWhenClosed() { m_pumpOff = false; }
  // Stops the methods and closes communications.
  void Close();

 private:
  // True once `method` is loaded.
  bool OpenAndLoad(SampleRun& sample, const CheckedMethod& method);
  void Fit(const CheckedMethod& method);

  Transport m_transport;
  const SimulatedPath& m_options;
  TerminalUi& m_ui;
  bool m_pumpOff;
  std::unique_ptr<DeviceSet> m_devices;
  bool m_open = false;
  bool m_serverLost = false;  // the last sample lost the server: the next opens on a new one
  std::string m_loaded;                 // the method file the devices hold
  SimulatedPath m_fitted;               // the simulated path in place
};

}  // namespace host
