#include "sim/control_wire.h"

#include <cmath>
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
      {"DegradeColumn",
       [](Control& c, const Json& a) { c.DegradeColumn(SideFrom(a.at(0)), a.at(1).get<double>()); }},
  };
  return handlers;
}

Json RecordingJson(const DetectorRecording& r) {
  Json signal = Json::array();
  for (const double mau : r.signalMau) signal.push_back(std::isnan(mau) ? Json(nullptr) : Json(mau));
  Json peaks = Json::array();
  for (const RecordedPeak& p : r.peaks) {
    peaks.push_back({p.compound, p.apexMin, p.sigmaMin, p.heightMau, p.areaMauS, p.retentionFactor, p.spectrum});
  }
  return {r.injected, r.vial, r.wavelengthNm, signal, peaks, r.unknown, r.firstSample};
}

DetectorRecording RecordingFrom(const Json& j) {
  DetectorRecording r;
  r.injected = j.at(0).get<bool>();
  r.vial = j.at(1).get<int>();
  r.wavelengthNm = j.at(2).get<int>();
  for (const Json& mau : j.at(3)) r.signalMau.push_back(mau.is_null() ? std::nan("") : mau.get<double>());
  for (const Json& p : j.at(4)) {
    r.peaks.push_back({p.at(0).get<std::string>(), p.at(1).get<double>(), p.at(2).get<double>(),
                       p.at(3).get<double>(), p.at(4).get<double>(), p.at(5).get<double>(),
                       p.at(6).get<std::vector<float>>()});
  }
  r.unknown = j.at(5).get<std::vector<std::string>>();
  r.firstSample = j.at(6).get<std::size_t>();
  return r;
}

// The calls with a result, by name.
using Query = Json (*)(Control&, const Json&);
const std::map<std::string, Query>& Queries() {
  static const std::map<std::string, Query> queries{
      {"PlaceSample",
       [](Control& c, const Json& a) {
         c.PlaceSample(SideFrom(a.at(0)), a.at(1).get<int>(), a.at(2).get<SampleContents>());
         return Json(nullptr);
       }},
      {"Recording",
       [](Control& c, const Json& a) {
         return RecordingJson(c.Recording(SideFrom(a.at(0)), a.at(1).get<std::size_t>(), a.at(2).get<std::size_t>()));
       }},
  };
  return queries;
}

std::string SideText(Side side) { return side == Side::kServer ? "server" : "network"; }

}  // namespace

std::string ServeControlCall(Control& control, const std::string& name, const std::string& arguments) {
  const auto handler = Handlers().find(name);
  const auto query = Queries().find(name);
  if (handler == Handlers().end() && query == Queries().end()) {
    throw std::invalid_argument("no such control call: " + name);
  }
  try {
    if (query != Queries().end()) {
      const Json result = query->second(control, Json::parse(arguments));
      return result.is_null() ? "" : result.dump();
    }
    handler->second(control, Json::parse(arguments));
    return "";
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
void ServerWireControl::PlaceSample(Side side, int vial, const SampleContents& contents) {
  if (side == Side::kNetwork) return InProcessControl().PlaceSample(side, vial, contents);
  Send("PlaceSample", Json{SideText(side), vial, contents}.dump());
}
DetectorRecording ServerWireControl::Recording(Side side, std::size_t fromSample, std::size_t fromPeak) {
  if (side == Side::kNetwork) return InProcessControl().Recording(side, fromSample, fromPeak);
  const std::string text = Send("Recording", Json{SideText(side), fromSample, fromPeak}.dump());
  // A program that ended answers nothing: nothing more was recorded.
  if (text.empty()) return DetectorRecording{};
  try {
    return RecordingFrom(Json::parse(text));
  } catch (const Json::exception& e) {
    throw std::runtime_error(std::string("the simulated server's recording does not read: ") + e.what());
  }
}
std::vector<std::string> ServerWireControl::CompoundNames() { return InProcessControl().CompoundNames(); }
void ServerWireControl::KeepLogs(Side side, bool keep) {
  if (side == Side::kNetwork) return InProcessControl().KeepLogs(side, keep);
  Send("KeepLogs", Json{SideText(side), keep}.dump());
}
void ServerWireControl::BlockLine(Side side) {
  if (side == Side::kNetwork) return InProcessControl().BlockLine(side);
  Send("BlockLine", Json{SideText(side)}.dump());
}
void ServerWireControl::DegradeColumn(Side side, double factor) {
  if (side == Side::kNetwork) return InProcessControl().DegradeColumn(side, factor);
  Send("DegradeColumn", Json{SideText(side), factor}.dump());
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
Control::Prediction ServerWireControl::Predict(const Program& program, const BottleLabels& labels,
                                              const Hydraulics& hydraulics, const SampleContents& contents) {
  return InProcessControl().Predict(program, labels, hydraulics, contents);
}
int ServerWireControl::ScheduleAt(std::int64_t atMs, std::function<void()> action) {
  return InProcessControl().ScheduleAt(atMs, std::move(action));
}
std::optional<std::int64_t> ServerWireControl::ScheduledRanAt(int id) {
  return InProcessControl().ScheduledRanAt(id);
}
void ServerWireControl::CancelScheduled(int id) { InProcessControl().CancelScheduled(id); }

}  // namespace sim
