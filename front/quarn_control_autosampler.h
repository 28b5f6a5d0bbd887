// The autosampler device object the host constructs and drives.
//
// Contract: derives from CAutoSampler and owns one autosampler back-end
// (CBaseSamp), built at construction by the family the transport flag
// selects, or none; then every operation answers its fixed value and calls
// nothing.
//  - A start shows "Running :- " and the current method name as flashing
//    status text; the status poll ends it when the back-end's Injecting()
//    falls from non-zero to 0 (a rising edge does nothing). Destroying the
//    front ends it too.
//  - The sample starts take the method file of `name`, write the sample's
//    vial and injection volume into its autosampler conditions, download it
//    (the result does not stop the start), then start. The vial given as
//    text is read like the C run-time's atoi: leading blanks, an optional
//    sign, then digits up to the first other character; no digits gives 0;
//    numbers beyond the int range are held at its ends.
//  - LoadMethod downloads the method behind a progress display that steps
//    to 100 and is followed by a one-second pause.
//  - WriteExpRecord(record, name) prints the method's "AUTOSAMPLER"
//    report; it needs no back-end.
//  - Back-end exceptions pass through; the local method and the progress
//    display are released on the way.
// Thread safety: host's thread only.
#pragma once

#include <memory>

#include "contract/inlet_devices.h"
#include "contract/quarn_export.h"

// The back-end interface, seen only by the library itself.
class CBaseSamp;

class QUARN_EXPORT CQuarnControlAutoSampler : public CAutoSampler {
 public:
  CQuarnControlAutoSampler();
  ~CQuarnControlAutoSampler() override;
  CQuarnControlAutoSampler(const CQuarnControlAutoSampler&) = delete;
  CQuarnControlAutoSampler& operator=(const CQuarnControlAutoSampler&) = delete;

  using CAutoSampler::LoadMethod;
  using CAutoSampler::StartMethod;
  using CAutoSampler::WriteExpRecord;

  int InitialiseComms() override;
  int ReadStatus(CInletSystemStatus& status) override;
  int LoadMethod(const CString& methodName) override;
  int StartMethod() override;
  int StartMethod(const CString& methodName) override;
  int StartMethod(const CString& methodName, const CString& vial, float volume) override;
  int StopMethod() override;
  int ResetInjector() override;
  int WriteExpRecord(CGenericExpRecord* record, const CString& methodName) override;
  int Injecting() override;
  int MethodRunning() override;
  int PostRunning() override;
  int NotReady(CString& text) override;
  int Error(CString& text) override;
  // A sample start with the vial as a number.
  virtual int StartMethod(const CString& methodName, int vial, float volume);

  // The vial text as a number, the way the C run-time's atoi reads it.
  static int VialFromText(const char* text);

  DECLARE_MESSAGE_MAP()

 private:
  // Reads `methodName`, patches the sample's vial and volume in, downloads
  // it and starts. 0 without a back-end or a readable file.
  int StartSample(const CString& methodName, int vial, float volume);

  CString m_strMethodName;
  int m_nLastInjecting;
  std::unique_ptr<CBaseSamp> m_pBackend;
};
