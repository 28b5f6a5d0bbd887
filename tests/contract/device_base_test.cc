#include <gtest/gtest.h>

#include "contract/inlet_devices.h"
#include "platform/inlet/inlet.h"
#include "tests/contract/minimal_devices.h"

namespace {

using testing_support::MinimalPump;
using testing_support::MinimalSampler;
using testing_support::MinimalUV;

TEST(DeviceBaseTest, PumpDefaults) {
  MinimalPump pump;
  CPump& p = pump;
  CGenericExpRecord record;
  EXPECT_EQ(p.InitialiseComms(), 1);
  EXPECT_EQ(p.Initialise(), 1);
  EXPECT_EQ(p.CloseDownComms(), 1);
  EXPECT_EQ(p.GenericOp(3, 4), 1);
  EXPECT_EQ(p.LoadMethod("M"), 1);
  EXPECT_EQ(p.LoadMethod("M", "x"), 1);
  EXPECT_EQ(p.SendRemoteStart(), 0);
  EXPECT_EQ(p.WriteExpRecord(&record, "M"), 0);
  EXPECT_EQ(p.WriteExpRecord(&record, "M", "x", eRunTypeSample), 0);
  EXPECT_TRUE(record.Text().empty());
}

TEST(DeviceBaseTest, PumpStopOnExitIsAWritableFlagStartingAtZero) {
  MinimalPump pump;
  EXPECT_EQ(pump.PumpStopOnExit(), 0);
  pump.PumpStopOnExit() = 1;
  EXPECT_EQ(pump.PumpStopOnExit(), 1);
}

TEST(DeviceBaseTest, SamplerForwardingOverloadsReachTheOverrides) {
  MinimalSampler sampler;
  CAutoSampler& s = sampler;
  CAutoSampler::StartMethodParams params{"12", 5.0f};
  CString unused;
  EXPECT_EQ(s.StartMethod("M1", params), 42);
  EXPECT_EQ(s.LoadMethod("M2", "other"), 3);
  sampler.loadResult = 0;
  EXPECT_EQ(s.LoadMethod("M2", "other"), 0);
  EXPECT_EQ(s.WriteExpRecord(nullptr, "M3", unused, eRunTypeSample), 5);
  EXPECT_EQ(sampler.calls, (std::vector<std::string>{"StartMethod M1 12 5.000000", "LoadMethod M2",
                                                     "LoadMethod M2", "WriteExpRecord M3"}));
}

TEST(DeviceBaseTest, SamplerDefaultsAndVialRange) {
  SetVialRange(5, 6);
  MinimalSampler sampler;
  CAutoSampler& s = sampler;
  int first = 0;
  int last = 0;
  GetVialRange(first, last);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(last, 10000);
  EXPECT_TRUE(s.RunMessage().IsEmpty());
  EXPECT_EQ(s.InitialiseComms(), 1);
  EXPECT_EQ(s.Initialise(), 1);
  EXPECT_EQ(s.CloseDownComms(), 1);
  EXPECT_EQ(s.SwitchWash(On), 0);
  EXPECT_EQ(s.ResetInjector(), 0);
  EXPECT_EQ(s.Inject(), 1);
  EXPECT_EQ(s.WaitingToInject(), 1);
  EXPECT_EQ(static_cast<CAutoSampler&>(s).CAutoSampler::StartMethod("M", "1", 1.0f), 0);
}

TEST(DeviceBaseTest, InjectionVolumeBlockByteForByte) {
  MinimalSampler sampler;
  CGenericExpRecord record;
  record.AppendText("before");
  sampler.WriteInjectionVolume(&record, 2.0f);
  EXPECT_EQ(record.Text(), "before\nSample Run Injection Parameter\n\nInjection Volume (ul)   -   2.00\n");
  record.Clear();
  sampler.WriteInjectionVolume(&record, 12.5f);
  EXPECT_EQ(record.Text(), "\nSample Run Injection Parameter\n\nInjection Volume (ul)   -   12.50\n");
  sampler.WriteInjectionVolume(nullptr, 1.0f);  // no record: nothing to do
}

TEST(DeviceBaseTest, DetectorForwardingAndDefaults) {
  MinimalUV uv;
  CDetector& d = uv;
  CString unused;
  EXPECT_EQ(d.FinishMethod(), -4);
  uv.stopResult = 0;
  EXPECT_EQ(d.FinishMethod(), 0);
  EXPECT_EQ(d.LoadMethod("M", "x"), 7);
  EXPECT_EQ(d.WriteExpRecord(nullptr, "M", unused, eRunTypeBlank), 9);
  EXPECT_EQ(d.InitialiseComms(), 1);
  EXPECT_EQ(d.Initialise(), 1);
  EXPECT_EQ(d.CloseDownComms(), 1);
  EXPECT_EQ(d.GenericOp(0, 0), 1);
  EXPECT_EQ(d.Balance(), 0);
  EXPECT_EQ(d.ReadBufferReady(), 0);
  EXPECT_EQ(d.EndDataAcquisition(), 1);
  EXPECT_EQ(d.InitialiseNewDataAcquisition("a", "b"), 0);
  EXPECT_EQ(d.PreStartDataAcquisition(), 1);
  EXPECT_EQ(d.ReadData(), 1);
  EXPECT_EQ(d.ResetDataAcquisition(), 1);
  EXPECT_EQ(d.TerminateDataAcquisition(), 1);
  d.SetDetectorNumber(2);
  EXPECT_EQ(d.GetDetectorNumber(), 2);
}

TEST(DeviceBaseTest, GcSystemDefaults) {
  struct MinimalGc final : CGCSystem {
    int ReadStatus(CInletSystemStatus&) override { return 0; }
    int LoadMethod(const CString&) override { return 0; }
    int StartMethod() override { return 0; }
    int StartMethod(const CString&) override { return 0; }
    int StopMethod() override { return 0; }
    int ReadyForInjection() override { return 0; }
    int GetMethodLength(const CString&, float&) override { return 0; }
    int MethodRunning() override { return 0; }
    int PostRunning() override { return 0; }
    int NotReady(CString&) override { return 0; }
    int Error(CString&) override { return 0; }
    int CoolDown() override { return 0; }
  } gc;
  CGCSystem& g = gc;
  CGenericExpRecord record;
  EXPECT_EQ(g.InitialiseComms(), 1);
  EXPECT_EQ(g.Initialise(), 1);
  EXPECT_EQ(g.GenericOp(3, 4), 1);
  EXPECT_EQ(g.CloseDownComms(), 1);
  EXPECT_EQ(g.WriteExpRecord(&record, "M"), 0);
  EXPECT_TRUE(record.Text().empty());
}

}  // namespace
