#include "sim/control.h"

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
