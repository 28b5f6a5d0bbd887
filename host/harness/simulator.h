// The simulators as the harness reaches them: through their control face
// (sim/control.h), wherever they live. Only the harness's own files
// include this; the rest of the host goes through simulators.h, faults.h
// and simulated_column.h.
#pragma once

#include "host/inputs/transport_checks.h"
#include "sim/control.h"

namespace host {

// The control of the simulators loaded in this process (beside the
// simulated driver library); null where none is: the instruments are real.
sim::Control* Simulator();

// The simulator that stands in for a transport.
sim::Side SideOf(Transport transport);

}  // namespace host
