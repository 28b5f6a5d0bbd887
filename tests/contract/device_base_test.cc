#include <gtest/gtest.h>

#include <array>
#include <utility>

#include "contract/inlet_devices.h"
#include "platform/inlet/inlet.h"
#include "tests/contract/minimal_devices.h"

namespace {

using testing_support::MinimalPump;
using testing_support::MinimalSampler;
using testing_support::MinimalUV;

// Each group of defaults in the order called, with what each returns.
TEST(DeviceBaseTest, PumpDefaultsAndAStopOnExitFlagStartingAtZero) {
  MinimalPump pump;
  CPump& p = pump;
  CGenericExpRecord record;
  EXPECT_EQ((std::array{p.InitialiseComms(), p.Initialise(), p.CloseDownComms(), p.GenericOp(3, 4), p.LoadMethod("M"),
                        p.LoadMethod("M", "x")}), (std::array{1, 1, 1, 1, 1, 1}));
  EXPECT_EQ((std::array{p.SendRemoteStart(), p.WriteExpRecord(&record, "M"),
                        p.WriteExpRecord(&record, "M", "x", eRunTypeSample)}), (std::array{0, 0, 0}));
  EXPECT_TRUE(record.Text().empty());
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
  int first = 0, last = 0;
  GetVialRange(first, last);
  EXPECT_EQ(std::pair(first, last), std::pair(1, 10000));
  EXPECT_TRUE(s.RunMessage().IsEmpty());
  EXPECT_EQ((std::array{s.InitialiseComms(), s.Initialise(), s.CloseDownComms(), s.SwitchWash(On), s.ResetInjector(),
                        s.Inject(), s.WaitingToInject(), s.CAutoSampler::StartMethod("M", "1", 1.0f)}),
            (std::array{1, 1, 1, 0, 0, 1, 1, 0}));
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
  EXPECT_EQ((std::array{d.LoadMethod("M", "x"), d.WriteExpRecord(nullptr, "M", unused, eRunTypeBlank),
                        d.InitialiseComms(), d.Initialise(), d.CloseDownComms(), d.GenericOp(0, 0), d.Balance(),
                        d.ReadBufferReady(), d.EndDataAcquisition(), d.InitialiseNewDataAcquisition("a", "b"),
                        d.PreStartDataAcquisition(), d.ReadData(), d.ResetDataAcquisition(),
                        d.TerminateDataAcquisition()}),
            (std::array{7, 9, 1, 1, 1, 1, 0, 0, 1, 0, 1, 1, 1, 1}));
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
  EXPECT_EQ((std::array{g.InitialiseComms(), g.Initialise(), g.GenericOp(3, 4), g.CloseDownComms(),
                        g.WriteExpRecord(&record, "M")}), (std::array{1, 1, 1, 1, 0}));
  EXPECT_TRUE(record.Text().empty());
}

}  // namespace
