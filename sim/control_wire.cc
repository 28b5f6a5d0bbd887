#include "sim/control_wire.h"

#include <map>
#include <nlohmann/json.hpp>

namespace sim {

namespace {

using Json = nlohmann::json;

Json ColumnJson(const std::optional<Column>& column) {
  if (!column) return nullptr;
  return {column->lengthMm, column->diameterMm, column->particleUm, column->porosity, column->systemBar};
}

std::optional<Column> ColumnFrom(const Json& j) {
  if (j.is_null()) return std::nullopt;
  return Column{j.at(0).get<double>(), j.at(1).get<double>(), j.at(2).get<double>(), j.at(3).get<double>(),
                j.at(4).get<double>()};
}

Side SideFrom(const Json& j) {
  const std::string side = j.get<std::string>();
  if (side != "server" && side != "network") throw std::invalid_argument("no such side: " + side);
  return side == "server" ? Side::kServer : Side::kNetwork;
}

using Handler = void (*)(Control&, const Json&);

// Every call the wire carries, by name.
const std::map<std::string, Handler>& Handlers() {
  static const std::map<std::string, Handler> handlers{
      {"FillBottles",
       [](Control& c, const Json& a) {
         c.FillBottles(SideFrom(a.at(0)), a.at(1).get<BottleLabels>());
       }},
      {"FitHydraulics",
       [](Control& c, const Json& a) {
         const Json& h = a.at(1);
         c.FitHydraulics(SideFrom(a.at(0)), Hydraulics{ColumnFrom(h.at(0)), h.at(1).get<double>(),
                                                         h.at(2).get<double>(), h.at(3).get<double>()});
       }},
      {"KeepLogs", [](Control& c, const Json& a) { c.KeepLogs(SideFrom(a.at(0)), a.at(1).get<bool>()); }},
      {"FailServerCall",
       [](Control& c, const Json& a) {
         c.FailServerCall(a.at(0).get<std::string>(), static_cast<HRESULT>(a.at(1).get<std::int64_t>()));
       }},
      {"SetServerUnitAbsent",
       [](Control& c, const Json& a) { c.SetServerUnitAbsent(a.at(0).get<LONG>(), a.at(1).get<SHORT>()); }},
      {"SetServerUnitTiming",
       [](Control& c, const Json& a) {
         c.SetServerUnitTiming(a.at(0).get<LONG>(), a.at(1).get<SHORT>(), a.at(2).get<std::int64_t>(),
                               a.at(3).get<std::int64_t>());
       }},
      {"SetNetBoxSilent", [](Control& c, const Json& a) { c.SetNetBoxSilent(a.at(0).get<bool>()); }},
      {"SetNetBoxState", [](Control& c, const Json& a) { c.SetNetBoxState(a.at(0).get<LONG>()); }},
      {"SetSamplerState", [](Control& c, const Json& a) { c.SetSamplerState(a.at(0).get<LONG>()); }},
      {"SendErrorEvent",
       [](Control& c, const Json& a) {
         c.SendErrorEvent(a.at(0).get<SHORT>(), a.at(1).get<SHORT>(), a.at(2).get<SHORT>(),
                          a.at(3).get<std::string>());
       }},
      {"EndServer", [](Control& c, const Json&) { c.EndServer(); }},
      {"BlockLine", [](Control& c, const Json& a) { c.BlockLine(SideFrom(a.at(0))); }},
  };
  return handlers;
}

std::string SideText(Side side) { return side == Side::kServer ? "server" : "network"; }

}  // namespace

void ServeControlCall(Control& control, const std::string& name, const std::string& arguments) {
  const auto handler = Handlers().find(name);
  if (handler == Handlers().end()) throw std::invalid_argument("no such control call: " + name);
  try {
    handler->second(control, Json::parse(arguments));
  } catch (const Json::exception& e) {
    throw std::invalid_argument(name + ": arguments " + arguments + " do not fit: " + e.what());
  }
}

// The network's simulators are this process's.
void ServerWireControl::FillBottles(Side side, const BottleLabels& labels) {
  if (side == Side::kNetwork) return InProcessControl().FillBottles(side, labels);
  Send("FillBottles", Json{SideText(side), labels}.dump());
}
void ServerWireControl::FitHydraulics(Side side, const Hydraulics& h) {
  if (side == Side::kNetwork) return InProcessControl().FitHydraulics(side, h);
  Send("FitHydraulics",
       Json{SideText(side), Json{ColumnJson(h.column), h.dwellMl, h.flowRampMlMin2, h.pressureTimeS}}.dump());
}
void ServerWireControl::KeepLogs(Side side, bool keep) {
  if (side == Side::kNetwork) return InProcessControl().KeepLogs(side, keep);
  Send("KeepLogs", Json{SideText(side), keep}.dump());
}
void ServerWireControl::BlockLine(Side side) {
  if (side == Side::kNetwork) return InProcessControl().BlockLine(side);
  Send("BlockLine", Json{SideText(side)}.dump());
}

void ServerWireControl::SetDriverMissing(bool missing) { InProcessControl().SetDriverMissing(missing); }
void ServerWireControl::SetNetworkUnitAbsent(std::uint16_t address) {
  InProcessControl().SetNetworkUnitAbsent(address);
}
void ServerWireControl::SetAutosamplerSilent(bool silent) { InProcessControl().SetAutosamplerSilent(silent); }
void ServerWireControl::SetNodeState(std::uint32_t state) { InProcessControl().SetNodeState(state); }
void ServerWireControl::SendTrouble(std::uint16_t unit, std::uint16_t what) {
  InProcessControl().SendTrouble(unit, what);
}

void ServerWireControl::FailServerCall(const std::string& operation, HRESULT hr) {
  Send("FailServerCall", Json{operation, static_cast<std::int64_t>(hr)}.dump());
}
void ServerWireControl::SetServerUnitAbsent(LONG type, SHORT number) {
  Send("SetServerUnitAbsent", Json{type, number}.dump());
}
void ServerWireControl::SetServerUnitTiming(LONG type, SHORT number, std::int64_t presentAfterMs,
                                            std::int64_t connectedAfterMs) {
  Send("SetServerUnitTiming", Json{type, number, presentAfterMs, connectedAfterMs}.dump());
}
void ServerWireControl::SetNetBoxSilent(bool silent) { Send("SetNetBoxSilent", Json{silent}.dump()); }
void ServerWireControl::SetNetBoxState(LONG state) { Send("SetNetBoxState", Json{state}.dump()); }
void ServerWireControl::SetSamplerState(LONG state) { Send("SetSamplerState", Json{state}.dump()); }
void ServerWireControl::SendErrorEvent(SHORT unitType, SHORT subCode, SHORT errorBits, const std::string& text) {
  Send("SendErrorEvent", Json{unitType, subCode, errorBits, text}.dump());
}
void ServerWireControl::EndServer() { Send("EndServer", "[]"); }

bool ServerWireControl::KnowsSolvent(const std::string& label) { return InProcessControl().KnowsSolvent(label); }
std::array<Control::SolventReading, kChannelCount> ServerWireControl::ReadSolventLabels(
    const BottleLabels& labels) {
  return InProcessControl().ReadSolventLabels(labels);
}
double ServerWireControl::PressureBar(double flowUlMin, const Composition& composition, double columnC,
                                      const BottleLabels& labels,
                                      const std::optional<Column>& column) {
  return InProcessControl().PressureBar(flowUlMin, composition, columnC, labels, column);
}
int ServerWireControl::ScheduleAt(std::int64_t atMs, std::function<void()> action) {
  return InProcessControl().ScheduleAt(atMs, std::move(action));
}
std::optional<std::int64_t> ServerWireControl::ScheduledRanAt(int id) {
  return InProcessControl().ScheduledRanAt(id);
}
void ServerWireControl::CancelScheduled(int id) { InProcessControl().CancelScheduled(id); }

}  // namespace sim
