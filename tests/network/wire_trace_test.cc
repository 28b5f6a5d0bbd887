#include "network/wire_trace.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "network/reply_decoder.h"
#include "platform/win/windows.h"
#include "tests/network/network_world.h"
#include "tests/support/golden.h"

namespace {

using testing_support::RawRecord;

class WireTraceTest : public testing_support::NetworkWorld {
 protected:
  void SetUp() override {
    NetworkWorld::SetUp();
    m_path = (TempDir() / "wire.trace").string();
  }
  std::vector<std::string> Lines() const {
    std::ifstream in(m_path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string m_path;
};

TEST_F(WireTraceTest, OffByDefaultAndWritesNothingAndAnUnopenableFileLeavesItOff) {
  EXPECT_FALSE(WireTraceOn());
  Trace("not written\n", 1);
  DispatchReply(113, RawRecord().U32(16, 0x0501040A).Data(), 0x0501);
  EXPECT_TRUE(Lines().empty());
  EXPECT_FALSE(SetWireTrace((TempDir() / "no-such-folder" / "x.trace").string().c_str()));
  EXPECT_FALSE(WireTraceOn());
  EXPECT_TRUE(SetWireTrace("stderr"));
  EXPECT_TRUE(WireTraceOn());
  EXPECT_TRUE(SetWireTrace(""));
  EXPECT_FALSE(WireTraceOn());
}

TEST_F(WireTraceTest, EventLineNamesTimeSenderKindAndEvent) {
  ASSERT_TRUE(SetWireTrace(m_path.c_str()));
  Sleep(61010);
  g_vexlinkSession.m_nLoopCount.Store(12);
  DispatchReply(113, RawRecord().U32(16, 0x0501040A).Data(), 0x0501);
  DispatchReply(113, RawRecord().U32(16, 0x00010000).Data(), 0x0000);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "    61.010 host * #12 Recv from 0501 -- EventReply code=0x501040a --> TEST_UNIT_READY From "
                         "UNIT=0501",
                         "    61.010 host   #12 Recv from 0000 -- EventReply code=0x10000 --> TIMER_TIMEOUT",
                     }));
}

TEST_F(WireTraceTest, TextsFromTheNetworkAreBoundedAndEscaped) {
  ASSERT_TRUE(SetWireTrace(m_path.c_str()));
  DispatchReply(107, RawRecord().Fill('A').Text(16, "QU\nRN\"").Data(), 0x0501);  // no NUL anywhere
  std::string all;
  for (const auto& line : Lines()) all += line + "\n";
  EXPECT_NE(all.find("Vexlink InquiryReply vender=\"QU\\x0aRN\\x22AA\" model_name=\"AAAAAAAAAAAAAAAAAAAA\""),
            std::string::npos)
      << all;
}

// Every reply kind, and every kind of unit's status, as a user reads them
// in a trace, long records continued on indented lines. Each record byte
// differs from its neighbours, so a field read from the wrong place shows.
TEST_F(WireTraceTest, EveryReplyReadsAsTheGoldenTrace) {
  ASSERT_TRUE(SetWireTrace(m_path.c_str()));
  RawRecord record;
  for (std::size_t i = 0; i + 1 < record.Size(); i += 2) record.U16(i, static_cast<std::uint32_t>(i * 0x0301 + 0x1141));
  for (int kind = 99; kind <= 182; ++kind) {
    if (kind != 113) DispatchReply(kind, record.Data(), 0x0101);
  }
  for (WORD sender : {0x0000, 0x0102, 0x0401, 0x0501, 0x0601, 0x0A01, 0x0B01, 0x0701}) {
    DispatchReply(115, record.Data(), sender);
  }
  std::string trace;  // without the clock, which this test does not move
  for (const std::string& line : Lines()) trace += line.substr(line.find("host")) + "\n";
  testing_support::ExpectMatchesGolden(trace, "network/golden/every-reply.trace");
}

// No text, an empty piece and a piece as long as a line's text.
TEST_F(WireTraceTest, EdgesOfAPiece) {
  ASSERT_TRUE(SetWireTrace(m_path.c_str()));
  Trace(nullptr, 1);
  const std::string full(TraceLine::kTextSize - 1, 'x');
  {
    TraceLine line;
    line.Add("%s", "");  // adds no separator
    line.Add("a");
    line.Add("%s", "");
    line.Add("%s", full.c_str());  // does not fit behind "a": a line of its own
  }
  Trace(full.c_str(), 0);  // fits exactly
  const std::string prefix = "     0.000 host   ";
  EXPECT_EQ(Lines(), (std::vector<std::string>{prefix + "a", prefix + "    " + full, prefix + full}));
}

}  // namespace
