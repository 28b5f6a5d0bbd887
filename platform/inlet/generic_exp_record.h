// The host's experiment record and the host's own small types that device
// operations pass through.
//
// Contract: `CGenericExpRecord` collects the text that devices append to
// it, in order; the host writes it out. `Switch`, `eRunType` and
// `CInletRawDataManager` are the host's; the product passes them on
// without reading them (`Switch`: zero is off, non-zero on).
// Thread safety: a record is used from the host's thread only.
#pragma once

#include <string>

#include "platform/mfc/cstring.h"

class CGenericExpRecord {
 public:
  // Appends `text` (null appends nothing).
  void AppendText(const char* text) {
    if (text) m_text += text;
  }
  const std::string& Text() const { return m_text; }
  void Clear() { m_text.clear(); }

 private:
  std::string m_text;
};

// A switch as the host passes it: an int, which may hold other values than
// these two (the devices take any value but On as off).
enum Switch : int { Off = 0, On = 1 };

enum eRunType { eRunTypeSample = 0, eRunTypeBlank = 1, eRunTypeStandard = 2, eRunTypeQC = 3 };

class CInletRawDataManager {};
