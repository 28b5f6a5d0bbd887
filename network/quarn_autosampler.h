// CQuarnAutoSampler: the autosampler back-end on the direct instrument
// network (CBaseSamp, backend/backend_interfaces.h).
//
// It sends nothing when a method is loaded: it keeps the sampler
// conditions (vial, volume, analysis time, flushes) for the run header
// and lists the autosampler in the analysis file; StartMethod starts a
// sample run through the pump back-end's StartAnalysis with a run header
// that names the vial. While it exists, the session open configures the
// autosampler as present.
// Injecting (and so the pump's MethodRunning) is up from a sample start
// until the pump's status polls see the sample's run over (quarn_pump.cc).
// Thread safety: host's thread only.
#pragma once

#include "backend/backend_interfaces.h"

class CQuarnAutoSampler : public CBaseSamp {
 public:
  CQuarnAutoSampler();
  ~CQuarnAutoSampler() override;

  int DownloadMethod(QuarnMethod& method) override;
  // The autosampler's state reaches the host through the pump's status.
  int ReadStatus(CInletSystemStatus&) override { return 1; }
  int Injecting() override;
  int StartMethod() override;
};
