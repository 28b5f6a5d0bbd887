// The direct autosampler and UV detector back-ends: their commands, their
// additions to the analysis file and the run header of a sample start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "front/quarn_control_autosampler.h"
#include "network/quarn_autosampler.h"
#include "network/quarn_pump.h"
#include "network/quarn_uv_detector.h"
#include "tests/network/network_world.h"
#include "tests/support/method_files.h"
#include "tests/support/test_world.h"

namespace {

using testing_support::FieldOf;

class SamplerUvTest : public testing_support::NetworkWorld {
 protected:
  void SetUp() override {
    NetworkWorld::SetUp();
    PretendSessionOpen();
    QuarnMethod m;
    m.GetPumpInitialCons().MaxPressure() = 400;
    m.GetPumpInitialCons().MinPressure() = 5;
    ASSERT_EQ(pump.DownloadInitialConditions(m), 1);
  }
  std::vector<std::uint32_t> UnitList() const {
    std::vector<std::uint32_t> units;
    for (std::size_t i = 0; i < AnlsFile::UnitList::kCount; ++i) {
      const std::uint32_t unit = g_downloadRecords.m_anlsFile.Row<AnlsFile::UnitList>(i).Get<AnlsFile::UnitEntry>();
      if (unit) units.push_back(unit);
    }
    return units;
  }
  CQuarnPump pump;
};

TEST_F(SamplerUvTest, UvDownloadSetsTheDetectorAtOnceAndAddsItsLines) {
  CQuarnUVDetector uv;
  QuarnMethod m;
  m.GetUVDetectorCons().Wavelength() = 254;
  m.GetUVDetectorCons().Response() = uvResponseSlow;
  const std::size_t before = net.Calls().size();
  g_downloadRecords.m_directCommand.Set<DirectCommand::Word<2>>(0x1234);
  EXPECT_EQ(uv.DownloadMethod(m), 1);
  EXPECT_EQ(uv.DownloadMethod(m), 1);  // again, without a pump download between
  EXPECT_EQ(uv.SwitchLamp(Off), 1);
  EXPECT_EQ(uv.SwitchLamp(On), 1);
  EXPECT_EQ(uv.SwitchLamp(static_cast<Switch>(2)), 1);  // any value but 1 is off
  // Words 4 to 7 keep what the pump's command left in them.
  EXPECT_EQ(HostCallsFrom(before),
            (std::vector<std::string>{"LC_UnitDirect(0x0401 0x09ec 0x0002 0xffff 0x0003 0x0005 0x0000 0x0000 0x0000)",
                                      "LC_UnitDirect(0x0401 0x09ec 0x0002 0xffff 0x0003 0x0005 0x0000 0x0000 0x0000)",
                                      "LC_UnitDirect(0x0401 0xffff 0xffff 0xffff 0x0000 0x0005 0x0000 0x0000 0x0000)",
                                      "LC_UnitDirect(0x0401 0xffff 0xffff 0xffff 0x0003 0x0005 0x0000 0x0000 0x0000)",
                                      "LC_UnitDirect(0x0401 0xffff 0xffff 0xffff 0x0000 0x0005 0x0000 0x0000 0x0000)"}));

  // Two lines and one list entry each time (their bytes: PumpDownloadTest).
  EXPECT_EQ(g_downloadRecords.m_anlsFile.Get<AnlsFile::InitialCount>(), 3 + 4);
  EXPECT_EQ(UnitList(), (std::vector<std::uint32_t>{0x0101, 0x0401, 0x0401}));
}

TEST_F(SamplerUvTest, SampleStartsListTheAutosamplerEachTimeUntilTheListIsFullThenKeepWorking) {
  CQuarnAutoSampler sampler;
  QuarnMethod m;
  std::vector<std::uint32_t> full(64, 0x0501);
  full[0] = 0x0101;
  for (int start = 1; start <= 1000; ++start) {
    m.GetSamplerInitialCons().VialNumber() = start;
    ASSERT_EQ(sampler.DownloadMethod(m), 1);
    ASSERT_EQ(sampler.StartMethod(), 1);
    ASSERT_EQ(FieldOf<RunHeader::FirstVial>(LastRecords("LC_PushAnlsFile").at(0)), start);
    if (start == 2) {
      EXPECT_EQ(UnitList(), (std::vector<std::uint32_t>{0x0101, 0x0501, 0x0501}));
    }
    if (start >= 63) {
      ASSERT_EQ(UnitList(), full) << start;
    }
  }
  EXPECT_EQ(g_downloadRecords.m_nUnitListIndex, 63);
  EXPECT_TRUE(ui.MessageBoxes().empty());
}

TEST_F(SamplerUvTest, FullInitialLinesRefuseTheUvDownloadAndSayWhatToDo) {
  CQuarnUVDetector uv;
  while (AppendInitialLine(0x0101, AnlsLine::kFlow, 0)) continue;
  g_downloadRecords.m_anlsFile.Set<AnlsFile::InitialCount>(31);  // room for one line, not two
  const AnlsFile before = g_downloadRecords.m_anlsFile;
  const std::size_t calls = net.Calls().size();
  QuarnMethod m;
  EXPECT_EQ(uv.DownloadMethod(m), 0);
  EXPECT_EQ(ui.MessageBoxes(), (std::vector<std::string>{
                                   "MessageBox 0x30: The analysis file has no room left for the UV detector's "
                                   "settings (32 initial lines at most).\nLoad the pump method again, then the UV "
                                   "detector method. The UV detector method was not loaded."}));
  EXPECT_TRUE(HostCallsFrom(calls).empty());
  EXPECT_TRUE(std::equal(before.Data(), before.Data() + sizeof(AnlsFile), g_downloadRecords.m_anlsFile.Data()));
}

TEST_F(SamplerUvTest, ASampleStartAfterAPumpStartCarriesItsVial) {
  CQuarnAutoSampler sampler;
  QuarnMethod m;
  m.GetSamplerInitialCons().VialNumber() = 7;
  ASSERT_EQ(sampler.DownloadMethod(m), 1);
  ASSERT_EQ(pump.StartMethod(), 1);
  EXPECT_EQ(FieldOf<RunHeader::FirstVial>(LastRecords("LC_PushAnlsFile").at(0)), RunHeader::kNoVial);
  ASSERT_EQ(sampler.StartMethod(), 1);
  EXPECT_EQ(FieldOf<RunHeader::FirstVial>(LastRecords("LC_PushAnlsFile").at(0)), 7);
}

// A sample start through the autosampler front, with the transport flag
// absent: the direct family is built and the run header names the sample.
TEST_F(SamplerUvTest, SampleStartCarriesVialVolumeAnalysisTimeAndFlushes) {
  const auto methods = TempDir() / "methods";
  testing_support::WriteTextFile(methods / "Sample.quarn900.toml",
                                 "[pump]\nflow = 1.0\nmax_pressure = 400\nstop_time = 12\n"
                                 "[autosampler]\nvial = 4\ninjection_volume = 10\nanalysis_time = 2.3\nflushes = 3\n");
  testing_support::SetEnv("QUARN_METHODS_DIR", methods.string());
  {
    CQuarnControlAutoSampler front;
    EXPECT_EQ(g_vexlinkSession.m_nSamplerPresent.Load(), 1);
    EXPECT_EQ(front.StartMethod("Sample", CString("12"), 2.3f), 1);
  }
  testing_support::UnsetEnv("QUARN_METHODS_DIR");
  EXPECT_EQ(g_vexlinkSession.m_nSamplerPresent.Load(), 0);

  const auto header = LastRecords("LC_PushAnlsFile").at(0);
  // Products in single precision, whatever the processor: 2.3 ul is
  // 2300 nl and 2.3 min is 138 s, not a unit less.
  using H = RunHeader;
  EXPECT_EQ((testing_support::WireFields(header).Named<H::FlushCount, H::InjectVolumeNl, H::RunTimeS, H::FirstVial,
                                                       H::LastVial>(
                {"flushes", "volume_nl", "run_time_s", "first_vial", "last_vial"})),
            "flushes=3 volume_nl=2300 run_time_s=138 first_vial=12 last_vial=12");
  EXPECT_EQ(HostCallsFrom(net.CallTexts(true).size() - 4),
            (std::vector<std::string>{"LC_Stop()", "LC_Reset()",
                                      "LC_PushAnlsFile(run header, analysis file, transfer control)",
                                      "LC_ResetRun()"}));
}

}  // namespace
