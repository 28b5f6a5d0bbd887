// Faults on demand: what `quarn-host run --fault NAME[:PARAMETER][@MINUTES]`
// injects into the simulated instruments. One catalogue drives the
// option's parser, `--fault list` and docs/faults.md, and lets a test walk
// every fault on every transport.
//
// A fault acts on the simulators at once when injected. The run injects a
// fault without @MINUTES before it opens the instruments (an event fault
// at the sample start, since nothing listens for events before), and one
// with @MINUTES that long after the sample start, at that clock time
// (ScheduleFault). A fault a transport does not have is refused
// before anything runs.
// Pure functions apart from InjectFault and the schedule; host's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "host/inputs/transport_checks.h"

namespace host {

// What follows a fault's name after ':'.
enum class FaultParameter {
  kNone,
  kUnit,        // pump, uv, autosampler, oven
  kServerCall,  // Interface.Operation=0xRESULT
  kNodeState,   // 7, 8 or 9
  kFactor,      // optional: a number, 1 to 100 (the fault's default without it)
};

struct Fault;

struct FaultKind {
  const char* name;
  FaultParameter parameter;
  bool timed;          // takes @MINUTES; else it acts only when the instruments are opened
  bool atSampleStart;  // without @MINUTES: injected at the sample start, not before opening
  const char* what;    // one line for the list
  const char* example; // a complete fault of this kind as typed, without @MINUTES
  // Injects the fault on that transport now; null: the transport has no such fault.
  void (*direct)(const Fault&);
  void (*server)(const Fault&);
  // Whether a run it hits is no valid run (JudgeRun): a malfunction. A
  // fault that is a state of the instruments rather than a malfunction
  // (a degraded column) leaves the run to be judged as any other.
  bool spoilsRun;
};

std::span<const FaultKind> FaultCatalogue();

// One --fault as typed, read.
struct Fault {
  const FaultKind* kind = nullptr;
  std::string text;  // as typed: "pump-overpressure@5"
  std::uint16_t unitAddress = 0;  // kUnit: the unit on the network
  int serverUnitType = 0;         // kUnit: the unit on the server
  int serverUnitNumber = 0;
  std::string operation;          // kServerCall
  std::uint32_t result = 0;       // kServerCall
  int nodeState = 0;              // kNodeState
  double factor = 4.0;            // kFactor
  std::optional<double> minutes;  // after the sample start; unset: from the start
};

struct FaultRead {
  std::optional<Fault> fault;
  std::string error;  // empty when `fault` is set: "--fault 'x': ..."
};
FaultRead ReadFault(const std::string& text);

// The name with its parameter and @MINUTES as the list shows them:
// "unit-absent:UNIT", "pump-overpressure[@MINUTES]".
std::string FaultSyntax(const FaultKind& kind);
// "direct, server", "direct", "server".
std::string FaultTransports(const FaultKind& kind);
bool HasTransport(const FaultKind& kind, Transport transport);
// What `quarn-host run --fault list` prints.
std::string FaultListText();

// REQUIRES: HasTransport(*fault.kind, transport).
void InjectFault(const Fault& fault, Transport transport);

// Injects `fault` when the clock reaches `atMs`; the number names it to
// the two calls below.
int ScheduleFault(const Fault& fault, Transport transport, std::int64_t atMs);
// When the scheduled fault `id` was injected; nullopt while it waits.
std::optional<std::int64_t> ScheduledFaultRanAt(int id);
// The scheduled fault `id` is not injected after all.
void CancelScheduledFault(int id);

}  // namespace host
