// The host's settings as the plug-in keeps them (the transport flag), and
// the method file a name the user typed stands for.
//
// Contract: ConfiguredTransport and SettingsProblem read the settings
// file; HoldTransport changes only what this process sees. None throws.
// Thread safety: host's thread only.
#pragma once

#include <string>

#include "host/inputs/transport_checks.h"

namespace host {

// The method file for what the user typed: an existing file as given
// (made a path, so the plug-in does not look it up among its methods),
// otherwise the plug-in's own lookup of a method name. When both find a
// file, the one as given wins and `note` (if given) says so.
std::string ResolveMethodPath(const std::string& given, std::string* note = nullptr);

// The transport the settings choose; direct when unset.
Transport ConfiguredTransport();

// What makes the settings unusable (a damaged file, a device or a FIFO
// at its path...), or "" when they can be read.
std::string SettingsProblem();

// Makes `transport` the one this process's devices use, whatever the
// settings file holds or other processes write to it: the plug-in reads
// the flag as ever, and this process alone sees this value. The settings
// file is not written.
void HoldTransport(Transport transport);

}  // namespace host
