#include "sim/control.h"

#include <cmath>
#include <utility>

#include "sim/fault_schedule.h"
#include "sim/instrument_model.h"
#include "sim/simulated_network.h"
#include "sim/simulated_server.h"
#ifdef _WIN32
#include "sim/windows/server_program.h"
#endif

namespace sim {

namespace {

SimulatedNetwork& Network() { return SimulatedNetwork::Get(); }
SimulatedServer& Server() { return SimulatedServer::Get(); }
Scheduler& On(Side side) {
  if (side == Side::kServer) return Server();
  return Network();
}

class InProcess final : public Control {
 public:
  void RegisterServer() override { SimulatedServer::Register(); }
  void FillBottles(Side side, const BottleLabels& labels) override { On(side).FillBottles(labels); }
  void FitHydraulics(Side side, const Hydraulics& hydraulics) override { On(side).FitHydraulics(hydraulics); }
  void PlaceSample(Side side, int vial, const SampleContents& contents) override {
    On(side).PlaceSample(vial, contents);
  }
  std::vector<std::string> CompoundNames() override {
    std::vector<std::string> names;
    for (const Compound& compound : CompoundLibrary()) names.emplace_back(compound.name);
    return names;
  }
  DetectorRecording Recording(Side side, std::size_t fromSample, std::size_t fromPeak) override {
    return On(side).Recording(fromSample, fromPeak);
  }
  void KeepLogs(Side side, bool keep) override {
    if (side == Side::kServer) {
      Server().SetKeepLogs(keep);
    } else {
      Network().SetKeepLogs(keep);
    }
  }
  void TraceServer(std::function<void(const std::string&)> sink) override { Server().SetTraceSink(std::move(sink)); }
  // A server that ended is renewed once let go, as a new program of its
  // own would start.
  void Disconnect() override {
    if (Server().Ended()) Server().Reset();
  }

  void SetDriverMissing(bool missing) override { Network().SetDriverMissing(missing); }
  void SetNetworkUnitAbsent(std::uint16_t address) override { Network().SetUnitAbsent(address); }
  void SetAutosamplerSilent(bool silent) override { Network().SetAutosamplerSilent(silent); }
  void SetNodeState(std::uint32_t state) override { Network().SetNodeState(state); }
  void SendTrouble(std::uint16_t unit, std::uint16_t what) override { Network().SendTrouble(unit, what); }

  void FailServerCall(const std::string& operation, HRESULT hr) override { Server().FailCall(operation, hr); }
  void SetServerUnitAbsent(LONG type, SHORT number) override { Server().SetUnitAbsent(type, number); }
  void SetServerUnitTiming(LONG type, SHORT number, std::int64_t presentAfterMs,
                           std::int64_t connectedAfterMs) override {
    Server().SetUnitTiming(type, number, presentAfterMs, connectedAfterMs);
  }
  void SetNetBoxSilent(bool silent) override { Server().SetNetBoxSilent(silent); }
  void SetNetBoxState(LONG state) override { Server().SetNetBoxState(state); }
  void SetSamplerState(LONG state) override { Server().SetSamplerState(state); }
  void SendErrorEvent(SHORT unitType, SHORT subCode, SHORT errorBits, const std::string& text) override {
    Server().SendErrorEvent(unitType, subCode, errorBits, text);
  }
  void EndServer() override { Server().End(); }
  std::string ServerLost() override { return Server().Ended() ? "the simulated server stopped answering" : ""; }

  void BlockLine(Side side) override { On(side).BlockLine(); }
  void DegradeColumn(Side side, double factor) override { On(side).DegradeColumn(factor); }

  bool KnowsSolvent(const std::string& label) override {
    return BottleFromLabel(label).has_value() || IsAqueousLabel(label);
  }
  std::array<SolventReading, kChannelCount> ReadSolventLabels(const BottleLabels& labels) override {
    const std::array<SimulatedBottle, kChannelCount> read = ReadBottleLabels(labels);
    std::array<SolventReading, kChannelCount> readings;
    for (std::size_t i = 0; i < read.size(); ++i) readings[i] = {BottleName(read[i].bottle), read[i].reading};
    return readings;
  }
  double PressureBar(double flowUlMin, const Composition& composition, double columnC,
                     const BottleLabels& labels, const std::optional<Column>& column) override {
    return InstrumentModel::PressureBar(flowUlMin, composition, columnC, BottlesFromLabels(labels), column);
  }

  Prediction Predict(const Program& program, const BottleLabels& labels, const Hydraulics& hydraulics,
                     const SampleContents& contents) override {
    InstrumentModel model;
    for (const std::uint16_t unit : kModelUnits) model.SetUnitPresent(unit, true);
    model.SetBottles(BottlesFromLabels(labels));
    model.SetHydraulics(hydraulics);
    if (program.vial) model.PlaceSample(*program.vial, contents);
    model.LoadProgram(program);
    model.PumpStart();
    Prediction prediction;
    std::vector<Notice> notices;
    std::int64_t now = 0, injectedMs = -1, maxAtMs = 0;
    const auto step = [&](std::int64_t to) {
      model.AdvanceTo(to, notices);
      now = to;
      for (const Notice& n : notices) {
        if (n.kind == Notice::Kind::kInjected) injectedMs = n.atMs;
      }
      notices.clear();
      const double bar = model.ReadPump(0).pressureBar;
      if (bar > prediction.maxBar) prediction.maxBar = bar, maxAtMs = now;
    };
    // The wait: at least a minute of flow, the oven within a degree.
    constexpr std::int64_t kStepMs = 1000, kMinWaitMs = 60000, kMaxWaitMs = 30 * 60000;
    const auto ready = [&] {
      const OvenReading oven = model.ReadOven();
      return now >= kMinWaitMs && (!program.ovenTemperatureC || std::fabs(oven.temperatureC - oven.setPointC) <= 1.0);
    };
    while (!ready() && now < kMaxWaitMs) step(now + kStepMs);
    model.StartRun();
    const std::int64_t startMs = now;
    while (injectedMs < 0 && now < startMs + 600000) step(now + 100);
    prediction.waitedMin = static_cast<double>(now) / 60000.0;
    const std::int64_t runStartMs = injectedMs >= 0 ? injectedMs : now;  // a run without a vial starts at once
    const std::int64_t endMs = runStartMs + std::int64_t{program.runTimeS} * 1000;
    while (now < endMs) step(std::min(endMs, now + kStepMs));
    prediction.maxAtMin = static_cast<double>(maxAtMs - runStartMs) / 60000.0;
    prediction.peaks = model.Recording(0, 0).peaks;
    return prediction;
  }

  int ScheduleAt(std::int64_t atMs, std::function<void()> action) override {
    return FaultSchedule::Get().At(atMs, std::move(action));
  }
  std::optional<std::int64_t> ScheduledRanAt(int id) override { return FaultSchedule::Get().RanAt(id); }
  void CancelScheduled(int id) override { FaultSchedule::Get().Cancel(id); }
};

}  // namespace

Control& InProcessControl() {
  static InProcess* const control = new InProcess;  // never destroyed: used up to the process's end
  return *control;
}

}  // namespace sim

sim::Control* QuarnSimulatorControl() {
#ifdef _WIN32
  // A server registered that is not the simulator's is real, and so are
  // the instruments; a simulated server registered as a program of its
  // own is reached there.
  if (sim::RealServerRegistered()) return nullptr;
  if (sim::Control* program = sim::ServerProgramControl()) return program;
#endif
  return &sim::InProcessControl();
}
