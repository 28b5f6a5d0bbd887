// Devices that supply only the abstract operations of each base class,
// recording which of them ran, so tests can reach the bases' defaults and
// forwarding overloads.
#pragma once

#include <string>
#include <vector>

#include "contract/inlet_devices.h"

namespace testing_support {

class MinimalPump : public CPump {
 public:
  using CPump::LoadMethod;
  using CPump::StartMethod;
  using CPump::WriteExpRecord;
  int ReadStatus(CInletSystemStatus&) override { return 0; }
  int SwitchPump(Switch) override { return 0; }
  int StartMethod() override { return 0; }
  int StartMethod(const CString&) override { return 0; }
  int StopMethod() override { return 0; }
  int GetMethodLength(const CString&, float&) override { return 0; }
  int PumpOn() override { return 0; }
  int MethodRunning() override { return 0; }
  int PostRunning() override { return 0; }
  int NotReady(CString&) override { return 0; }
  int Error(CString&) override { return 0; }
};

class MinimalSampler : public CAutoSampler {
 public:
  using CAutoSampler::LoadMethod;
  using CAutoSampler::StartMethod;
  using CAutoSampler::WriteExpRecord;
  int ReadStatus(CInletSystemStatus&) override { return 0; }
  int LoadMethod(const CString& name) override {
    calls.push_back("LoadMethod " + name.str());
    return loadResult;
  }
  int StartMethod() override { return 0; }
  int StartMethod(const CString&) override { return 0; }
  int StartMethod(const CString& name, const CString& vial, float volume) override {
    calls.push_back("StartMethod " + name.str() + " " + vial.str() + " " + std::to_string(volume));
    return 42;
  }
  int StopMethod() override { return 0; }
  int WriteExpRecord(CGenericExpRecord*, const CString& name) override {
    calls.push_back("WriteExpRecord " + name.str());
    return 5;
  }
  int Injecting() override { return 0; }
  int MethodRunning() override { return 0; }
  int PostRunning() override { return 0; }
  int NotReady(CString&) override { return 0; }
  int Error(CString&) override { return 0; }

  std::vector<std::string> calls;
  int loadResult = 3;
};

class MinimalUV : public CUVDetector {
 public:
  using CDetector::LoadMethod;
  using CDetector::StartMethod;
  using CDetector::WriteExpRecord;
  int ReadStatus(CInletSystemStatus&) override { return 0; }
  int SwitchLamp(Switch) override { return 0; }
  int LoadMethod(const CString&) override { return 7; }
  int StartMethod() override { return 0; }
  int StartMethod(const CString&) override { return 0; }
  int StopMethod() override { return stopResult; }
  int WriteExpRecord(CGenericExpRecord*, const CString&) override { return 9; }
  int LampOn() override { return 0; }
  int MethodRunning() override { return 0; }
  int PostRunning() override { return 0; }
  int NotReady(CString&) override { return 0; }
  int Error(CString&) override { return 0; }

  int stopResult = -4;
};

}  // namespace testing_support
