#include "platform/vexlink/download_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "network/download_state.h"
#include "tests/support/test_world.h"

namespace {

class DownloadStateTest : public testing_support::TestWorld {
 protected:
  void SetUp() override {
    TestWorld::SetUp();
    g_downloadRecords.ResetForTesting();
    g_directRunSettings.ResetForTesting();
  }
  static std::vector<std::uint8_t> Bytes(const std::uint8_t* p, std::size_t first, std::size_t count) {
    return {p + first, p + first + count};
  }
};

TEST_F(DownloadStateTest, PrepareTransferForTheAutosamplerNamesItsVialAndHoldsValuesBeyondTheHeadersNumbers) {
  g_directRunSettings.m_nVialNumber = 12;
  g_directRunSettings.m_fInjectionVolumeUl = 5.0f;
  g_directRunSettings.m_fAnalysisTimeS = 600.9f;  // truncated
  g_directRunSettings.m_nFlushCount = 3;
  PrepareTransfer();
  EXPECT_EQ(Bytes(g_downloadRecords.m_runHeader.Data(), 6, 18),
            (std::vector<std::uint8_t>{3, 0, 0x88, 0x13, 0, 0, 180, 0, 0, 0, 0x58, 0x02, 0, 0, 12, 0, 12, 0}));
  EXPECT_EQ(Bytes(g_downloadRecords.m_transferControl.Data(), 0, 6), (std::vector<std::uint8_t>{2, 0, 0, 0, 0, 0}));

  g_directRunSettings.m_fInjectionVolumeUl = 3e9f;  // a host's sample volume, ul
  g_directRunSettings.m_fAnalysisTimeS = std::nanf("");
  PrepareTransfer();
  EXPECT_EQ(g_downloadRecords.m_runHeader.Get<RunHeader::InjectVolumeNl>(), INT32_MAX);
  EXPECT_EQ(g_downloadRecords.m_runHeader.Get<RunHeader::RunTimeS>(), 0);
}

TEST_F(DownloadStateTest, AppendedInitialLinesWriteOnlyTheirFieldsAndStopWhenFull) {
  AnlsFile& file = g_downloadRecords.m_anlsFile;
  // Leftovers of an earlier file in p1, p2 and the tail of line 0.
  file.Row<AnlsFile::InitialLines>(0).Set<AnlsLine::P1>(31);
  file.Row<AnlsFile::InitialLines>(0).Set<AnlsLine::P2>(7);
  ASSERT_TRUE(AppendInitialLine(0x0401, AnlsLine::kUvWavelength, 2540));
  const auto line = file.Row<AnlsFile::InitialLines>(0);
  EXPECT_EQ((std::vector<std::int64_t>{line.Get<AnlsLine::Unit>(), line.Get<AnlsLine::TimeMs>(),
                                       line.Get<AnlsLine::Code>(), line.Get<AnlsLine::P0>(), line.Get<AnlsLine::P1>(),
                                       line.Get<AnlsLine::P2>()}),
            (std::vector<std::int64_t>{0x0401, -1, 7, 2540, 31, 7}));

  for (int i = 1; i < 32; ++i) ASSERT_TRUE(AppendInitialLine(0x0401, AnlsLine::kUvResponse, i));
  const AnlsFile full = file;
  EXPECT_FALSE(AppendInitialLine(0x0401, AnlsLine::kUvResponse, 99));
  EXPECT_EQ(file.Get<AnlsFile::InitialCount>(), 32);
  EXPECT_TRUE(std::equal(full.Data(), full.Data() + sizeof(AnlsFile), file.Data()));  // the timetable is untouched
}

TEST_F(DownloadStateTest, SessionFileKeepsTimetableLinesAndTheUnitListIndexBehindWhichUnitsAreAppended) {
  AnlsFile& file = g_downloadRecords.m_anlsFile;
  file.Row<AnlsFile::TimetableLines>(0).Set<AnlsLine::P0>(1250);
  file.Row<AnlsFile::UnitList>(5).Set<AnlsFile::UnitEntry>(0x0401);
  g_downloadRecords.m_nUnitListIndex = 5;
  BuildSessionAnlsFile();
  EXPECT_EQ(file.Get<AnlsFile::TimetableCount>(), 0);
  EXPECT_EQ(file.Row<AnlsFile::TimetableLines>(0).Get<AnlsLine::P0>(), 1250);  // not cleared, not counted
  EXPECT_EQ(file.Row<AnlsFile::UnitList>(5).Get<AnlsFile::UnitEntry>(), 0);
  EXPECT_EQ(g_downloadRecords.m_nUnitListIndex, 5);

  g_downloadRecords.m_nUnitListIndex = 61;  // appended until the last entry
  EXPECT_TRUE(AppendUnit(0x0401));
  EXPECT_TRUE(AppendUnit(0x0401));
  const AnlsFile full = g_downloadRecords.m_anlsFile;
  EXPECT_FALSE(AppendUnit(0x0501));
  EXPECT_EQ(Bytes(full.Data(), 4240 + 2 * 61, 6), (std::vector<std::uint8_t>{0, 0, 0x01, 0x04, 0x01, 0x04}));
  EXPECT_TRUE(std::equal(full.Data(), full.Data() + sizeof(AnlsFile), g_downloadRecords.m_anlsFile.Data()));
  EXPECT_EQ(g_downloadRecords.m_nUnitListIndex, 63);
}

}  // namespace
