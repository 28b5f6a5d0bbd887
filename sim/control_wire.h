// The simulated server's settings as named calls with JSON arguments: how
// the control face (sim/control.h) reaches a simulated server that runs
// in another process. One side encodes a member's call (ServerWireControl),
// the other decodes and makes it on its own simulators (ServeControlCall).
// Only the server's settings cross: the network's simulators, the solvent
// and pressure readings and the scheduled actions stay in the caller's
// process, where ServerWireControl makes them on InProcessControl().
//
// Thread safety: as the control face; Send is called on the caller's
// thread.
#pragma once

#include <stdexcept>
#include <string>

#include "sim/control.h"

namespace sim {

class ServerWireControl : public Control {
 public:
  void FillBottles(Side side, const BottleLabels& labels) override;
  void FitHydraulics(Side side, const Hydraulics& hydraulics) override;
  void KeepLogs(Side side, bool keep) override;
  void PlaceSample(Side side, int vial, const SampleContents& contents) override;
  DetectorRecording Recording(Side side, std::size_t fromSample, std::size_t fromPeak) override;
  std::vector<std::string> CompoundNames() override;

  void SetDriverMissing(bool missing) override;
  void SetNetworkUnitAbsent(std::uint16_t address) override;
  void SetAutosamplerSilent(bool silent) override;
  void SetNodeState(std::uint32_t state) override;
  void SendTrouble(std::uint16_t unit, std::uint16_t what) override;

  void FailServerCall(const std::string& operation, HRESULT hr) override;
  void SetServerUnitAbsent(LONG type, SHORT number) override;
  void SetServerUnitTiming(LONG type, SHORT number, std::int64_t presentAfterMs,
                           std::int64_t connectedAfterMs) override;
  void SetNetBoxSilent(bool silent) override;
  void SetNetBoxState(LONG state) override;
  void SetSamplerState(LONG state) override;
  void SendErrorEvent(SHORT unitType, SHORT subCode, SHORT errorBits, const std::string& text) override;
  void EndServer() override;
  void BlockLine(Side side) override;
  void DegradeColumn(Side side, double factor) override;

  bool KnowsSolvent(const std::string& label) override;
  std::array<SolventReading, kChannelCount> ReadSolventLabels(const BottleLabels& labels) override;
  double PressureBar(double flowUlMin, const Composition& composition, double columnC,
                     const BottleLabels& labels, const std::optional<Column>& column) override;
  Prediction Predict(const Program& program, const BottleLabels& labels, const Hydraulics& hydraulics,
                     const SampleContents& contents) override;
  int ScheduleAt(std::int64_t atMs, std::function<void()> action) override;
  std::optional<std::int64_t> ScheduledRanAt(int id) override;
  void CancelScheduled(int id) override;

 protected:
  // Makes the call `name` with `arguments` (a JSON array) on the other
  // side and gives its result (JSON; "" for none); throws
  // std::runtime_error when it cannot.
  virtual std::string Send(const std::string& name, const std::string& arguments) = 0;
};

// Makes the call a ServerWireControl sent on `control`; its result for
// the caller's Send. Throws std::invalid_argument for an unknown name or
// arguments that do not fit.
std::string ServeControlCall(Control& control, const std::string& name, const std::string& arguments);

}  // namespace sim
