// The unit communications message both transport families show when a
// unit's link fails.
//
// Contract: SendUnitCommsMessage shows the unit-prefixed text in a warning
// message box and returns it from one static 512-byte buffer (at most 511
// bytes kept), valid until the next call. The prefixes are those of
// "PUMP", "AUTOSAMPLER", "PDA" and "UV"; any other unit, or none, adds
// nothing.
// Thread safety: host's thread only (the message buffer is shared).
#pragma once

const char* SendUnitCommsMessage(const char* unit, const char* text);
