// What a transport does to a method that differs from what its file says.
//
// Contract: TransportWarnings lists, for one transport, every value of a
// method that the transport rounds, every part it does not send and every
// method it refuses to load, and what runs otherwise than the file seems
// to say on any transport (a step at 0 min that overrides [pump]), each
// with the line and key of the file that holds it (from the key lines
// that LoadMethodFile gives), in line order.
// A method that runs exactly as written gives none. `method check` and
// `run` show the same list. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"

namespace host {

enum class Transport { kDirect, kServer };

// "direct" or "server".
const char* TransportName(Transport transport);

// How long the host waits for a run to end past its run length before it
// stops the run and reports that it did not end, minutes.
inline constexpr double kRunEndMarginMinutes = 5.0;

struct MethodWarning {
  int line = 0;     // from 1; 0 when no line of the file holds it
  std::string key;  // dotted key path, as in problems
  std::string text; // what the transport does, after "the direct transport ": "sends whole percent: ..."
  bool refused = false;  // the method would not run as meant (nothing injected, no run, not loaded): an error
  bool anyTransport = false;  // the text says what happens on every transport, not "the direct transport ..."
};

// What the column oven holds, degrees C: a forced-air oven that heats up
// to 80 C and cannot cool, and holds a set point only 5 C above the room's
// 25 C or more. A set point outside it is never reached: refused on every
// transport. docs/simulator.md, Oven.
inline constexpr double kOvenLowestC = 30.0;
inline constexpr double kOvenHighestC = 80.0;

// The smallest injection quarn-host accepts, microlitres: the direct
// transport sends whole nanolitres, and less is no injection on either.
inline constexpr double kMinInjectionUl = 0.001;

// Why `ul` would inject nothing on `transport` (after "the direct
// transport "), or "" when it is an injection.
std::string VolumeRefusal(double ul, Transport transport);

std::vector<MethodWarning> TransportWarnings(const QuarnMethod& method, const MethodKeyLines& lines,
                                             Transport transport);

// "line 12, key 'pump.percent_b': warning: the direct transport sends whole
// percent: 12.5 % B runs as 13 % (...)"; "error:" for a refusal; without
// the transport for a warning of every transport.
std::string DescribeMethodWarning(const MethodWarning& warning, Transport transport);

// Writes what `transport` changes in the method read from `path`, one
// line each ("PATH: line 12, key '...': warning, direct transport: ..."),
// to `to`; returns how many. `refused` (if given) gets how many of them
// are errors: the method would not run as meant on that transport.
std::size_t PrintMethodWarnings(const std::string& path, const QuarnMethod& method, const MethodKeyLines& lines,
                                Transport transport, std::FILE* to, std::size_t* refused = nullptr);

}  // namespace host
