#include "network/quarn_autosampler.h"

#include "network/download_state.h"
#include "network/quarn_pump.h"
#include "network/vexlink_session.h"
#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"
#include "platform/vexlink/reply_formats.h"

CQuarnAutoSampler::CQuarnAutoSampler() { g_vexlinkSession.m_nSamplerPresent.Store(1); }

CQuarnAutoSampler::~CQuarnAutoSampler() { g_vexlinkSession.m_nSamplerPresent.Store(0); }

int CQuarnAutoSampler::DownloadMethod(QuarnMethod& method) {
  const SamplerInitialCons& cons = method.GetSamplerInitialCons();
  DirectRunSettings& settings = g_directRunSettings;
  settings.m_nVialNumber = cons.VialNumber();
  settings.m_fInjectionVolumeUl = cons.InjectionVolume();
  settings.m_fAnalysisTimeS = cons.AnalysisTime() * 60.0f;
  settings.m_nFlushCount = cons.Flushes();
  // Listed again at every download; a full list takes no more and the
  // sample still runs.
  AppendUnit(kUnitAutosampler);
  return 1;
}

int CQuarnAutoSampler::Injecting() { return g_directRunFlags.m_nSamplerInjecting; }

int CQuarnAutoSampler::StartMethod() {
  CQuarnPump::StartAnalysis();
  return 1;
}
