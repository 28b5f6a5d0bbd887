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
  // The list holds each unit once, so this refusal needs a list filled
  // by something other than these downloads.
  if (!ListUnit(kUnitAutosampler)) {
    SendMessageBox("The analysis file's unit list is full (64 units), so the autosampler cannot be added to it.\n"
                   "Load the pump method again, then the autosampler method. The autosampler method was not "
                   "loaded.",
                   MB_ICONEXCLAMATION);
    return 0;
  }
  const SamplerInitialCons& cons = method.GetSamplerInitialCons();
  DirectRunSettings& settings = g_directRunSettings;
  settings.m_nVialNumber = cons.VialNumber();
  settings.m_fInjectionVolumeUl = cons.InjectionVolume();
  settings.m_fAnalysisTimeS = cons.AnalysisTime() * 60.0f;
  settings.m_nFlushCount = cons.Flushes();
  return 1;
}

int CQuarnAutoSampler::Injecting() { return g_directRunFlags.m_nSamplerInjecting; }

int CQuarnAutoSampler::StartMethod() {
  CQuarnPump::StartAnalysis();
  return 1;
}
