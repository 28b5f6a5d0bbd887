#include "host/harness/faults.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "host/harness/simulator.h"
#include "host/text/number_text.h"
#include "platform/tavix/tavix.h"
#include "platform/vexlink/reply_formats.h"

namespace host {

namespace {

struct UnitName {
  const char* name;
  std::uint16_t address;  // on the network
  TavixUnitType type;     // on the server
  int number;
};
constexpr UnitName kUnits[] = {{"pump", kUnitPump1, unitTypePump, 1},
                               {"uv", kUnitUV, unitTypeUVDetector, 1},
                               {"autosampler", kUnitAutosampler, unitTypeAutosampler, 1},
                               {"oven", kUnitOven, unitTypeColumnOven, 1}};

SHORT Short(int value) { return static_cast<SHORT>(value); }

constexpr FaultKind kCatalogue[] = {
    {"driver-missing", FaultParameter::kNone, false, false,
     "the instrument network's driver is not installed: opening the network fails", "driver-missing",
     [](const Fault&) { Simulator()->SetDriverMissing(true); }, nullptr,
     true},
    {"unit-absent", FaultParameter::kUnit, false, false,
     "the unit is not there: it does not answer on the network, the server does not find it", "unit-absent:uv",
     [](const Fault& f) { Simulator()->SetNetworkUnitAbsent(f.unitAddress); },
     [](const Fault& f) { Simulator()->SetServerUnitAbsent(f.serverUnitType, Short(f.serverUnitNumber)); },
     true},
    {"unit-never-connects", FaultParameter::kUnit, false, false,
     "the server finds the unit, which reports itself present but never connected", "unit-never-connects:pump",
     nullptr,
     [](const Fault& f) { Simulator()->SetServerUnitTiming(f.serverUnitType, Short(f.serverUnitNumber), 0, -1); },
     true},
    {"server-call", FaultParameter::kServerCall, true, false,
     "every call of the operation from then on returns RESULT (a failure code instead of acting, a success "
     "code after it)",
     "server-call:Session.StartRun=0x80004005", nullptr,
     [](const Fault& f) { Simulator()->FailServerCall(f.operation, static_cast<HRESULT>(f.result)); },
     true},
    {"error-event", FaultParameter::kNone, true, true,
     "the server sends an error event: network box, \"External Input #1 error\"", "error-event", nullptr,
     [](const Fault&) { Simulator()->SendErrorEvent(0, 0, 1, "External Input #1 error"); },
     true},
    {"trouble-event", FaultParameter::kNone, true, true,
     "pump 1 sends a pressure trouble event while it goes on delivering", "trouble-event",
     [](const Fault&) { Simulator()->SendTrouble(kUnitPump1, kTroubleUpperPressure); }, nullptr,
     true},
    {"node-state", FaultParameter::kNodeState, true, false,
     "the node (network box) reports STATE, a state that needs a reset: on the network until it is reset, "
     "on the server for good",
     "node-state:8", [](const Fault& f) { Simulator()->SetNodeState(static_cast<std::uint32_t>(f.nodeState)); },
     [](const Fault& f) { Simulator()->SetNetBoxState(f.nodeState); },
     true},
    {"autosampler-never-ready", FaultParameter::kNone, true, false,
     "the autosampler never reports ready: silent on the network, locked on the server", "autosampler-never-ready",
     [](const Fault&) { Simulator()->SetAutosamplerSilent(true); },
     [](const Fault&) { Simulator()->SetSamplerState(samplerLocked); },
     true},
    {"netbox-silent", FaultParameter::kNone, true, false,
     "the network box gives an empty identification: it does not answer", "netbox-silent", nullptr,
     [](const Fault&) { Simulator()->SetNetBoxSilent(true); },
     true},
    {"server-exit", FaultParameter::kNone, true, true,
     "the instrument server's program ends (in the host's process: the server stops answering)", "server-exit",
     nullptr, [](const Fault&) { Simulator()->EndServer(); },
     true},
    {"pump-overpressure", FaultParameter::kNone, true, false,
     "pump 1 goes over its upper pressure limit and trips at once, or as soon as the pumps deliver",
     "pump-overpressure", [](const Fault&) { Simulator()->BlockLine(sim::Side::kNetwork); },
     [](const Fault&) { Simulator()->BlockLine(sim::Side::kServer); },
     true},
    // Not a malfunction but the column's state: a run it hits is judged
    // as any other, and the loss shows in the peaks (plates, resolution),
    // which is what a system suitability check is for.
    {"column-degraded", FaultParameter::kFactor, true, true,
     "the column loses efficiency: its plate height FACTOR times its own (default 4) from then on, for the rest "
     "of the run or sequence; the runs stay valid, their peaks wider",
     "column-degraded:10", [](const Fault& f) { Simulator()->DegradeColumn(sim::Side::kNetwork, f.factor); },
     [](const Fault& f) { Simulator()->DegradeColumn(sim::Side::kServer, f.factor); },
     false},
};

bool IsName(const std::string& text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "Interface.Operation" or one name ("CoCreateInstance").
bool IsOperation(const std::string& text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) return IsName(text);
  return IsName(text.substr(0, dot)) && IsName(text.substr(dot + 1));
}

std::optional<std::uint32_t> ReadResult(const std::string& text) {
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (std::size_t i = 2; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!std::isxdigit(c)) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  return value;
}

// Reads the parameter into `fault`; the error, or "".
std::string ReadParameter(const std::string& parameter, Fault& fault) {
  switch (fault.kind->parameter) {
    case FaultParameter::kNone:
      return "";
    case FaultParameter::kUnit:
      for (const UnitName& unit : kUnits) {
        if (parameter != unit.name) continue;
        fault.unitAddress = unit.address;
        fault.serverUnitType = unit.type;
        fault.serverUnitNumber = unit.number;
        return "";
      }
      return "unknown unit '" + parameter + "'; expected pump, uv, autosampler or oven";
    case FaultParameter::kServerCall: {
      const std::size_t equals = parameter.find('=');
      fault.operation = parameter.substr(0, equals);
      if (equals == std::string::npos || !IsOperation(fault.operation)) {
        return "'" + parameter + "' is not OPERATION=RESULT; expected for instance Session.StartRun=0x80004005";
      }
      const std::optional<std::uint32_t> result = ReadResult(parameter.substr(equals + 1));
      if (!result) {
        return "'" + parameter.substr(equals + 1) + "' is not a result code; expected 0x and 1 to 8 hexadecimal "
               "digits, for instance 0x80004005";
      }
      fault.result = *result;
      return "";
    }
    case FaultParameter::kNodeState:
      if (parameter == "7" || parameter == "8" || parameter == "9") {
        fault.nodeState = parameter[0] - '0';
        return "";
      }
      return "'" + parameter + "' is not a node state that needs a reset; expected 7, 8 or 9";
    case FaultParameter::kFactor: {
      const NumberRead<double> factor = ReadDecimalNumber(parameter, "FACTOR", 1.0, 100.0, false);
      if (!factor.value) return factor.error;
      fault.factor = *factor.value;
      return "";
    }
  }
  return "";
}

}  // namespace

std::span<const FaultKind> FaultCatalogue() { return kCatalogue; }

FaultRead ReadFault(const std::string& text) {
  const auto fail = [&](const std::string& why) {
    return FaultRead{std::nullopt, "--fault '" + text + "': " + why};
  };
  Fault fault;
  fault.text = text;
  std::string head = text;
  if (const std::size_t at = text.find('@'); at != std::string::npos) {
    head = text.substr(0, at);
    const NumberRead<double> minutes =
        ReadDecimalNumber(text.substr(at + 1), "MINUTES", 0.0, 10000.0, false);
    if (!minutes.value) return fail(minutes.error);
    fault.minutes = minutes.value;
  }
  const std::size_t colon = head.find(':');
  const std::string name = head.substr(0, colon);
  for (const FaultKind& kind : kCatalogue) {
    if (name == kind.name) fault.kind = &kind;
  }
  if (!fault.kind) return fail("unknown fault '" + name + "'; 'quarn-host run --fault list' shows the faults");
  const bool optional = fault.kind->parameter == FaultParameter::kFactor;
  const bool wants = fault.kind->parameter != FaultParameter::kNone && (!optional || colon != std::string::npos);
  if (wants && colon == std::string::npos) {
    return fail("missing parameter; expected " + FaultSyntax(*fault.kind) + ", for instance " + fault.kind->example);
  }
  if (!wants && colon != std::string::npos && !optional) return fail(name + " takes no parameter");
  if (fault.minutes && !fault.kind->timed) {
    return fail(name + " acts when the instruments are opened; give it without @MINUTES");
  }
  if (const std::string error = wants ? ReadParameter(head.substr(colon + 1), fault) : ""; !error.empty()) {
    return fail(error);
  }
  return {fault, ""};
}

std::string FaultSyntax(const FaultKind& kind) {
  static constexpr const char* kParameters[] = {"", ":UNIT", ":OPERATION=RESULT", ":STATE", "[:FACTOR]"};
  return std::string(kind.name) + kParameters[static_cast<int>(kind.parameter)] + (kind.timed ? "[@MINUTES]" : "");
}

bool HasTransport(const FaultKind& kind, Transport transport) {
  return (transport == Transport::kDirect ? kind.direct : kind.server) != nullptr;
}

std::string FaultTransports(const FaultKind& kind) {
  if (kind.direct && kind.server) return "direct, server";
  return kind.direct ? "direct" : "server";
}

std::string FaultListText() {
  std::string text =
      "Faults for 'quarn-host run --fault NAME[:PARAMETER][@MINUTES]' (repeatable). @MINUTES: that long after\n"
      "the sample start; without it the fault is there from the start (an event: at the sample start).\n\n";
  // Columns of 42 and 15 characters and a blank after each.
  const auto row = [&text](std::string syntax, std::string transports, const char* what) {
    syntax.resize(std::max<std::size_t>(syntax.size(), 42), ' ');
    transports.resize(std::max<std::size_t>(transports.size(), 15), ' ');
    text += syntax + ' ' + transports + ' ' + what + '\n';
  };
  row("FAULT", "TRANSPORTS", "WHAT IT DOES");
  for (const FaultKind& kind : kCatalogue) row(FaultSyntax(kind), FaultTransports(kind), kind.what);
  text +=
      "\nUNIT: pump, uv, autosampler or oven. STATE: 7, 8 or 9. OPERATION: a server call as server-calls.log\n"
      "names it (--trace), for instance Session.StartRun; RESULT: 0x and 1 to 8 hexadecimal digits.\n"
      "FACTOR: 1 to 100, how many times the column's plate height grows (its plate count falls as much).\n";
  return text;
}

// Real instruments take no faults: the command line refuses them, and
// these do nothing.
void InjectFault(const Fault& fault, Transport transport) {
  if (Simulator()) (transport == Transport::kDirect ? fault.kind->direct : fault.kind->server)(fault);
}

int ScheduleFault(const Fault& fault, Transport transport, std::int64_t atMs) {
  if (!Simulator()) return 0;
  return Simulator()->ScheduleAt(atMs, [fault, transport] { InjectFault(fault, transport); });
}

std::optional<std::int64_t> ScheduledFaultRanAt(int id) {
  return Simulator() ? Simulator()->ScheduledRanAt(id) : std::nullopt;
}

void CancelScheduledFault(int id) {
  if (Simulator()) Simulator()->CancelScheduled(id);
}

}  // namespace host
