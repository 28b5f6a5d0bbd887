#include "front/backend_factory.h"

#include "front/shared_routines.h"
#include "network/quarn_autosampler.h"
#include "network/quarn_pump.h"
#include "network/quarn_uv_detector.h"
#include "server/server_backends.h"

namespace {

BackendMakerForTesting* g_testMaker = nullptr;

// Each family's constructors.
std::unique_ptr<CBasePump> NewRealPump(BackendFamily family) {
  if (family == BackendFamily::kDirect) return std::make_unique<CQuarnPump>();
  return std::make_unique<CNetIIPump>();
}

std::unique_ptr<CBaseSamp> NewRealSampler(BackendFamily family) {
  if (family == BackendFamily::kDirect) return std::make_unique<CQuarnAutoSampler>();
  return std::make_unique<CNetIISamp>();
}

std::unique_ptr<CBaseUV> NewRealUV(BackendFamily family) {
  if (family == BackendFamily::kDirect) return std::make_unique<CQuarnUVDetector>();
  return std::make_unique<CNetIIUV>();
}

}  // namespace

BackendFamily ChooseBackendFamily(int netBoxCommsFlag) {
  return netBoxCommsFlag != 0 ? BackendFamily::kServer : BackendFamily::kDirect;
}

std::unique_ptr<CBasePump> CreatePumpBackend() {
  const BackendFamily family = ChooseBackendFamily(ReadNetBoxCommsFlag());
  return g_testMaker ? g_testMaker->NewPump(family) : NewRealPump(family);
}

std::unique_ptr<CBaseSamp> CreateSamplerBackend() {
  const BackendFamily family = ChooseBackendFamily(ReadNetBoxCommsFlag());
  return g_testMaker ? g_testMaker->NewSampler(family) : NewRealSampler(family);
}

std::unique_ptr<CBaseUV> CreateUVBackend() {
  const BackendFamily family = ChooseBackendFamily(ReadNetBoxCommsFlag());
  return g_testMaker ? g_testMaker->NewUV(family) : NewRealUV(family);
}

void SetBackendMakerForTesting(BackendMakerForTesting* maker) { g_testMaker = maker; }
