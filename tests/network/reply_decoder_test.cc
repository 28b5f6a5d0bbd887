#include "network/reply_decoder.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <string>
#include <vector>

#include "platform/vexlink/reply_formats.h"
#include "tests/network/network_world.h"

namespace {

using testing_support::RawRecord;

constexpr int kStatus = 115;
constexpr int kEvent = 113;

class ReplyDecoderTest : public testing_support::NetworkWorld {
 protected:
  void SetUp() override {
    NetworkWorld::SetUp();
    g_vexlinkSession.m_hNode.Store(7);  // the handle the decoders pass on
  }

  static void Dispatch(int kind, const RawRecord& record, WORD sender) { DispatchReply(kind, record.Data(), sender); }
  static RawRecord EventRecord(std::uint32_t code) { return RawRecord().U32(16, code); }

  // Every snapshot word, as bits, to show that nothing changed.
  static std::vector<std::uint32_t> SnapshotBits(const UnitStatusSnapshot& s = g_unitStatusSnapshot) {
    auto bits = [](float f) { return std::bit_cast<std::uint32_t>(f); };
    return {s.m_dwNodeState.Load(), bits(s.m_fElapsedMinutes.Load()), bits(s.m_fPercentA.Load()),
            bits(s.m_fPercentB.Load()), bits(s.m_fPercentC.Load()), bits(s.m_fPercentD.Load()),
            bits(s.m_fPumpFlow.Load()), bits(s.m_fPumpPressure.Load()), s.m_dwSamplerStatus.Load(),
            static_cast<std::uint32_t>(s.m_nOvenTemperature.Load()), static_cast<std::uint32_t>(s.m_nLamp.Load())};
  }
};

TEST_F(ReplyDecoderTest, BeforeAnyReplyTheSnapshotReadsIdleAllSolventALampOff) {
  const std::vector<std::uint32_t> load = {0, 0, std::bit_cast<std::uint32_t>(100.0f), 0, 0, 0, 0, 0, 0, 0, 0};
  const UnitStatusSnapshot fresh;
  EXPECT_EQ(SnapshotBits(fresh), load);
  Dispatch(kStatus, RawRecord().Fill(0x11), 0x0000);  // every node field
  for (WORD unit : {0x0101, 0x0401, 0x0501, 0x0601}) Dispatch(kStatus, RawRecord().Fill(0x22), unit);
  g_unitStatusSnapshot.ResetForTesting();
  EXPECT_EQ(SnapshotBits(), load);
}

// The node's status from exact bytes. Any sender whose address AND 0x7F00
// is 0x0100 is a pump; the last one wins. A negative elapsed time is stored
// as is, the autosampler status with all 32 bits, the oven's temperature
// sign-extended; the lamp is on while bit 14 is clear.
TEST_F(ReplyDecoderTest, StatusFieldsAreStoredAsTheirUnitsMean) {
  const UnitStatusSnapshot& s = g_unitStatusSnapshot;
  Dispatch(kStatus, RawRecord().U32(16, 3).U32(24, 0x7FFFFFFF).U16(60, 6050).U16(62, static_cast<std::uint16_t>(-1234))
                       .U16(64, 5184), 0x0000);
  EXPECT_EQ(s.m_dwNodeState.Load(), 3u);
  EXPECT_EQ(s.m_fElapsedMinutes.Load(), static_cast<float>(0x7FFFFFFF) * 1.6666667e-05f);  // 35791.4
  EXPECT_EQ(s.m_fPercentA.Load(), 6050.0f * 0.01f);
  EXPECT_EQ(s.m_fPercentB.Load(), -1234.0f * 0.01f);  // negative, not clamped
  EXPECT_EQ(s.m_fPercentC.Load(), 5184.0f * 0.01f);
  EXPECT_EQ(s.m_fPercentD.Load(), 0.0f);
  for (WORD sender : {0x0102, 0x0103, 0x8101, 0x01FF}) {
    Dispatch(kStatus, RawRecord().U16(20, 98).U16(22, 1000), 0x0101);
    Dispatch(kStatus, RawRecord().U16(20, static_cast<std::uint16_t>(-3)).U16(22, 1250), sender);
    EXPECT_EQ(s.m_fPumpPressure.Load(), -3.0f) << sender;
    EXPECT_EQ(s.m_fPumpFlow.Load(), 1250.0f * 0.001f) << sender;
  }
  Dispatch(kStatus, RawRecord().U32(16, 1).U32(24, 0xFFFFFC18u), 0x0000);  // -1000 ms
  EXPECT_EQ(s.m_fElapsedMinutes.Load(), -1000.0f * 1.6666667e-05f);
  Dispatch(kStatus, RawRecord().U32(16, 0x00010124u), 0x0501);
  EXPECT_EQ(s.m_dwSamplerStatus.Load(), 0x00010124u);
  Dispatch(kStatus, RawRecord().U16(20, static_cast<std::uint16_t>(-5)).U16(22, 40), 0x0601);
  EXPECT_EQ(s.m_nOvenTemperature.Load(), -5);
  Dispatch(kStatus, RawRecord().U32(16, 0xFFFFBFFFu), 0x0401);
  EXPECT_EQ(s.m_nLamp.Load(), 1);
  Dispatch(kStatus, RawRecord().U32(16, 0x00004000u), 0x0401);
  EXPECT_EQ(s.m_nLamp.Load(), 0);
}

TEST_F(ReplyDecoderTest, StatusOfUnitsWithoutAUseAndUnknownKindsChangeNothing) {
  const auto before = SnapshotBits();
  for (WORD sender : {0x0A01, 0x0B01, 0x0201, 0x0701, 0x7F00, 0x8000}) {
    Dispatch(kStatus, RawRecord().Fill(0x5A), sender);
  }
  // A record that would change everything as a node status or an event.
  RawRecord record;
  record.U32(16, 0x0501040A).U32(24, 60000).U16(60, 1);
  for (int kind : {0, -1, 100, 102, 114, 116, 125, 147, 149, 151, 177, 179, 181, 1113, INT_MAX, INT_MIN}) {
    Dispatch(kind, record, 0x0000);
  }
  EXPECT_EQ(SnapshotBits(), before);
  EXPECT_EQ(g_vexlinkSession.m_nSamplerReady.Load(), 0);
  EXPECT_TRUE(net.Calls().empty());
}

struct EventCase {
  const char* name;
  std::uint32_t code;
  bool marksSamplerReady;
  std::vector<std::string> calls;
};

void PrintTo(const EventCase& c, std::ostream* os) { *os << c.name; }

class EventTest : public ReplyDecoderTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventTest, HasItsEffectAndNoOther) {
  const EventCase& c = GetParam();
  Dispatch(kEvent, EventRecord(c.code), static_cast<WORD>(c.code >> 16));
  EXPECT_EQ(g_vexlinkSession.m_nSamplerReady.Load(), c.marksSamplerReady ? 1 : 0);
  EXPECT_EQ(net.CallTexts(), c.calls);
  for (const sim::DriverCall& call : net.Calls()) EXPECT_EQ(call.node, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, EventTest,
    ::testing::Values(EventCase{"Warning", 0xC501040Au, false, {}},
                      EventCase{"TroubleClearsIt", 0x8000040Au, false, {"LC_TroubleClear()"}},
                      EventCase{"TroubleFromAPump", 0x81010201u, false, {"LC_TroubleClear()"}},
                      EventCase{"SeverityBits01Ignored", 0x4501040Au, false, {}},
                      EventCase{"TestUnitReadyFromTheAutosampler", 0x0501040Au, true, {}},
                      EventCase{"TestUnitReadyFromAPump", 0x0101040Au, true, {}},
                      EventCase{"TestUnitReadyFromTheNode", 0x0000040Au, true, {}},
                      EventCase{"TimerRequestsNodeStatus", 0x00010000u, false, {"LC_UnitStatus(0x0000)"}},
                      EventCase{"NetworkEventWithReadyLowWord", 0x0001040Au, false, {}},
                      EventCase{"UnnamedNetworkEvent", 0x0001FFFFu, false, {}},
                      EventCase{"OtherUnitEvent", 0x05010401u, false, {}},
                      EventCase{"UnnamedUnitEvent", 0x05010406u, false, {}},
                      EventCase{"OutsideEveryRange", 0x3FFFFFFFu, false, {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
