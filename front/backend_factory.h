// Choosing and building a front's back-end.
//
// Contract: each Create* reads the transport flag afresh
// (ReadNetBoxCommsFlag) and builds one back-end of the chosen family:
//     flag non-zero -> server-mediated family (CNetIIPump, CNetIISamp,
//                      CNetIIUV)
//     flag zero     -> direct-network family (CQuarnPump,
//                      CQuarnAutoSampler, CQuarnUVDetector)
// A null result means "no back-end": the front then answers every call
// with its fixed value.
// Tests may install a maker that builds fakes instead (the flag is still
// read, and the chosen family is passed to the maker).
// Thread safety: host's thread only.
#pragma once

#include <memory>

#include "backend/backend_interfaces.h"

enum class BackendFamily { kServer, kDirect };

// The family the flag selects.
BackendFamily ChooseBackendFamily(int netBoxCommsFlag);

std::unique_ptr<CBasePump> CreatePumpBackend();
std::unique_ptr<CBaseSamp> CreateSamplerBackend();
std::unique_ptr<CBaseUV> CreateUVBackend();

// A test-only seam: builds the back-ends instead of the real families.
class BackendMakerForTesting {
 public:
  virtual ~BackendMakerForTesting() = default;
  virtual std::unique_ptr<CBasePump> NewPump(BackendFamily family) = 0;
  virtual std::unique_ptr<CBaseSamp> NewSampler(BackendFamily family) = 0;
  virtual std::unique_ptr<CBaseUV> NewUV(BackendFamily family) = 0;
};

// Installs `maker` (borrowed; null restores the real families).
void SetBackendMakerForTesting(BackendMakerForTesting* maker);
