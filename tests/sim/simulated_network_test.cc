#include "sim/simulated_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/vexlink/vexlink.h"
#include "platform/win/windows.h"
#include "tests/support/golden.h"
#include "tests/support/hex_dump.h"
#include "tests/support/test_world.h"

namespace {

using sim::SimReply;

constexpr int kEvent = 113;
constexpr int kStatus = 115;
constexpr const char* kPath = "\\\\.\\Vexlink2";

std::uint32_t U16(const SimReply& r, std::size_t offset) { return r.bytes.at(offset) | (r.bytes.at(offset + 1) << 8); }
std::int32_t I16(const SimReply& r, std::size_t offset) { return static_cast<std::int16_t>(U16(r, offset)); }
std::uint32_t U32(const SimReply& r, std::size_t offset) { return U16(r, offset) | (U16(r, offset + 2) << 16); }

// Records in the units' byte layout, written at explicit offsets.
struct Bytes {
  explicit Bytes(std::size_t size) : data(size, 0) {}
  Bytes& Put(std::size_t offset, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) data.at(offset + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }
  std::vector<std::uint8_t> data;
};

Bytes AnalysisFile(std::uint32_t systemCode) { return Bytes(4368).Put(0, systemCode, 4).Put(8, 5678, 4); }

void PutLine(Bytes& file, bool timetable, int index, std::uint16_t unit, std::int32_t timeMs, std::uint16_t code,
             std::int32_t p0, std::int32_t p1 = 0, std::int32_t p2 = 0) {
  const std::size_t line = (timetable ? 1424 : 16) + 44 * static_cast<std::size_t>(index);
  file.Put(line + 2, unit, 2).Put(line + 4, static_cast<std::uint32_t>(timeMs), 4).Put(line + 8, code, 2);
  file.Put(line + 12, static_cast<std::uint32_t>(p0), 4).Put(line + 16, static_cast<std::uint32_t>(p1), 4);
  file.Put(line + 20, static_cast<std::uint32_t>(p2), 4);
  file.Put(timetable ? 14 : 12, static_cast<std::uint32_t>(index + 1), 2);
}

Bytes RunHeader(std::int32_t runTimeS, std::uint16_t vial, std::uint16_t flushes = 1, std::int32_t volumeNl = 1000) {
  return Bytes(64).Put(0, 1000, 4).Put(6, flushes, 2).Put(8, static_cast<std::uint32_t>(volumeNl), 4)
      .Put(16, static_cast<std::uint32_t>(runTimeS), 4).Put(20, vial, 2).Put(22, vial, 2);
}

class SimulatedNetworkTest : public testing_support::TestWorld {
 protected:
  void SetUp() override {
    TestWorld::SetUp();
    net.ResetForTesting();
    net.SetLogOnlyForTesting(true);  // no receiving thread here: replies go to the log
  }
  void TearDown() override {
    net.ResetForTesting();
    TestWorld::TearDown();
  }

  // Opens and connects a node with every unit present.
  int Connect(bool withAutosampler = true) {
    const int node = LC_NodeOpen(kPath, 0);
    LC_HardReset(node);
    LC_NodeConnect(node, 0);
    for (WORD unit : {0x0101, 0x0102, 0x0103, 0x0401, 0x0601}) LC_UnitConfig(node, unit, 1);
    LC_UnitConfig(node, 0x0501, withAutosampler ? 1 : 0);
    return node;
  }
  void Push(int node, const Bytes& header, const Bytes& file) {
    const Bytes control = Bytes(6).Put(0, 2, 2);
    LC_PushAnlsFile(node, header.data.data(), file.data.data(), control.data.data());
  }
  void Direct(int node, WORD unit, std::vector<std::uint16_t> words) {
    Bytes command(16);
    for (std::size_t i = 0; i < words.size(); ++i) command.Put(2 * i, words[i], 2);
    LC_UnitDirect(node, unit, command.data.data());
  }
  std::vector<SimReply> RepliesOf(int kind, std::uint16_t unit) const {
    std::vector<SimReply> found;
    for (const SimReply& r : net.Replies()) {
      if (r.kind == kind && (r.sender & 0xFFFF) == unit) found.push_back(r);
    }
    return found;
  }
  SimReply StatusOf(int node, std::uint16_t unit) {
    LC_UnitStatus(node, unit);
    Sleep(20);
    const auto replies = RepliesOf(kStatus, unit);
    if (replies.empty()) ADD_FAILURE() << "no status from " << unit;
    return replies.empty() ? SimReply{} : replies.back();
  }
  // The replies so far but the node's timer events, one line each: time,
  // kind, sender and the record's first word (an event's code).
  std::string ReplyLog() const {
    std::string log;
    for (const SimReply& r : net.Replies()) {
      if (r.kind == kEvent && U32(r, 16) == 0x00010000u) continue;
      char line[80];
      std::snprintf(line, sizeof line, "%7lld ms  kind %3d  from %08x  word %08x\n", static_cast<long long>(r.atMs),
                    r.kind, static_cast<unsigned>(r.sender), U32(r, 16));
      log += line;
    }
    return log;
  }

  sim::SimulatedNetwork& net = sim::SimulatedNetwork::Get();
};

TEST_F(SimulatedNetworkTest, OpenNeedsTheDriverTheRightPathAndAFreeNode) {
  EXPECT_EQ(LC_NodeOpen(kPath, 0), 1);
  EXPECT_EQ(LC_NodeOpen(kPath, 0), -1);  // already open
  EXPECT_EQ(LC_NodeClose(1), 0);
  EXPECT_EQ(LC_NodeOpen("\\\\.\\Vexlink1", 0), -1);
  EXPECT_EQ(LC_NodeOpen(nullptr, 0), -1);
  net.SetDriverMissingForTesting(true);
  EXPECT_EQ(LC_NodeOpen(kPath, 0), -1);
  net.SetDriverMissingForTesting(false);
  EXPECT_EQ(LC_NodeOpen(kPath, 0), 2);
  EXPECT_EQ(net.CallTexts()[0], "LC_NodeOpen(\"\\\\.\\Vexlink2\", 0)");
  EXPECT_EQ(net.CallTexts()[4], "LC_NodeOpen(\"(null)\", 0)");
}

TEST_F(SimulatedNetworkTest, CommandsToANodeThatIsNotOpenAreLoggedAndRefused) {
  EXPECT_EQ(LC_PumpStart(5), -1);
  EXPECT_EQ(LC_UnitStatus(0, 0x0101), -1);
  const auto calls = net.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].text, "LC_PumpStart()");
  EXPECT_EQ(calls[0].node, 5);
  EXPECT_EQ(calls[1].text, "LC_UnitStatus(0x0101)");
  EXPECT_TRUE(net.Replies().empty());
}

TEST_F(SimulatedNetworkTest, ConnectedNodeSendsATimerEventEverySecond) {
  const int node = LC_NodeOpen(kPath, 0);
  Sleep(500);
  EXPECT_TRUE(net.Replies().empty());  // nothing before the connect
  LC_NodeConnect(node, 0);
  Sleep(3000);
  std::vector<std::pair<int, std::int64_t>> seen;
  for (const SimReply& r : net.Replies()) seen.push_back({r.kind, r.atMs});
  EXPECT_EQ(seen, (std::vector<std::pair<int, std::int64_t>>{{103, 510}, {113, 1500}, {113, 2500}, {113, 3500}}));
  EXPECT_EQ(U32(net.Replies()[1], 16), 0x00010000u);
  net.SetTimerPeriodForTesting(0);
  Sleep(5000);
  EXPECT_EQ(net.Replies().size(), 4u);
}

TEST_F(SimulatedNetworkTest, StatusRecordsCarryTheUnitsStateInTheirLayouts) {
  const int node = Connect();
  Bytes file = AnalysisFile(0x10);
  PutLine(file, false, 0, 0x0101, -1, 0, 1500);
  PutLine(file, false, 1, 0x0101, -1, 1, 60, 40, 0);
  PutLine(file, false, 2, 0x0101, -1, 2, 350);
  PutLine(file, false, 3, 0x0101, -1, 3, 5);
  PutLine(file, false, 4, 0x0601, -1, 4, 40);
  PutLine(file, false, 5, 0x0401, -1, 7, 2800);
  PutLine(file, false, 6, 0x0401, -1, 9, 3);
  Push(node, RunHeader(600, 0xFFFF), file);
  LC_PumpStart(node);
  Sleep(60000);  // one time constant of the oven: 40 - 15/e = 34.5 degrees

  // Each unit's status record as the units send it (the node's: pump on,
  // 60/40 % at 1.5 ml/min between 350 and 5 bar, one file pushed; the oven
  // at 34 of 40 degrees; the UV lamp on at 280.0 nm), its first 128 bytes.
  std::string dump;
  for (std::uint16_t unit : {0x0000, 0x0101, 0x0102, 0x0501, 0x0601, 0x0401}) {
    const SimReply r = StatusOf(node, unit);
    char title[64];
    std::snprintf(title, sizeof title, "status of %04x from %08x at %lld ms\n", unit, static_cast<unsigned>(r.sender),
                  static_cast<long long>(r.atMs));
    dump += title + testing_support::HexDump({r.bytes.begin(), r.bytes.begin() + 128});
  }
  testing_support::ExpectMatchesGolden(dump, "sim/golden/unit-status-records.hex");
}

TEST_F(SimulatedNetworkTest, DirectCommandsActAsTheirWordsSay) {
  const int node = Connect();
  Direct(node, 0x0101, {0x0200, 1200, 0xFFFF, 250, 10, 70, 30, 0});
  LC_PumpStart(node);
  sim::InstrumentModel units = net.InstrumentsNow();
  EXPECT_EQ(units.ReadPump(0).flowUlMin, 1200.0);
  EXPECT_EQ(units.ReadPump(1).flowUlMin, 1200.0);  // 0x200: two pumps deliver
  EXPECT_EQ(units.ReadPump(0).upperLimitBar, 250);
  EXPECT_EQ(units.ReadNode().composition.b, 30.0);

  // 0xFFFF leaves a value; words that are no composition leave it too.
  Direct(node, 0x0101, {0x0001, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 69, 30, 7});
  units = net.InstrumentsNow();
  EXPECT_EQ(units.ReadPump(0).flowUlMin, 1200.0);
  EXPECT_EQ(units.ReadNode().composition.b, 30.0);
  EXPECT_EQ(units.ReadPump(1).flowUlMin, 1200.0);

  Direct(node, 0x0601, {1, 45});
  EXPECT_EQ(net.InstrumentsNow().ReadOven().setPointC, 45);
  Direct(node, 0x0601, {0, 45});
  EXPECT_EQ(net.InstrumentsNow().ReadOven().status, 0u);

  Direct(node, 0x0401, {2540, 2, 0xFFFF, 0});
  EXPECT_EQ(net.InstrumentsNow().ReadUv().status, 0x4000u);
  Direct(node, 0x0401, {0xFFFF, 0xFFFF, 0xFFFF, 3});
  const sim::UvReading uv = net.InstrumentsNow().ReadUv();
  EXPECT_EQ(uv.status, 0u);
  EXPECT_EQ(uv.wavelengthTenthsNm, 2540);

  const auto calls = net.Calls();
  EXPECT_EQ(calls.back().text, "LC_UnitDirect(0x0401 0xffff 0xffff 0xffff 0x0003 0x0000 0x0000 0x0000 0x0000)");
  EXPECT_EQ(calls.back().records.at(0),
            (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  Sleep(20);
  EXPECT_EQ(RepliesOf(139, 0x0401).size(), 2u);  // each command acknowledged
}

TEST_F(SimulatedNetworkTest, AFileWithoutItsSignatureIsNotTaken) {
  const int node = Connect();
  Bytes file = AnalysisFile(1);
  PutLine(file, false, 0, 0x0101, -1, 0, 2000);
  Push(node, RunHeader(120, 1), file);
  file.Put(8, 5679, 4);
  PutLine(file, false, 0, 0x0101, -1, 0, 700);
  Push(node, RunHeader(120, 1), file);
  LC_PumpStart(node);
  EXPECT_EQ(net.InstrumentsNow().ReadPump(0).flowUlMin, 2000.0);
}

// An autosampler reports ready (0x0501040a) 2.5 s after it is configured;
// a silent one answers nothing, and an absent one is not heard of.
TEST_F(SimulatedNetworkTest, AutosamplerReportsReadyOnceConfiguredUnlessSilentOrAbsent) {
  std::string log;
  for (auto [name, silent, present] : {std::tuple{"ready", false, true}, std::tuple{"silent", true, true},
                                       std::tuple{"absent", false, false}}) {
    net.ResetForTesting();
    net.SetLogOnlyForTesting(true);
    net.SetAutosamplerSilentForTesting(silent);
    const int node = Connect(present);
    LC_UnitStatus(node, 0x0501);
    LC_Inquiry(node, 0x0501);
    Sleep(70000);
    log += std::string("== ") + name + "\n" + ReplyLog();
  }
  testing_support::ExpectMatchesGolden(log, "sim/golden/autosampler-replies.txt");
}

TEST_F(SimulatedNetworkTest, InquiryOfTheNodeIdentifiesItAndListsTheUnits) {
  const int node = Connect(false);
  LC_Inquiry(node, 0);
  Sleep(20);
  const auto id = RepliesOf(107, 0);
  ASSERT_EQ(id.size(), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&id[0].bytes[16])), "QUARN");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&id[0].bytes[24])), "QN-900 NODE");
  const auto list = RepliesOf(109, 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(U16(list[0], 16), 5u);
  const std::uint32_t units[] = {0x0101, 0x0102, 0x0103, 0x0401, 0x0601, 0};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(U16(list[0], 18 + 2 * i), units[i]) << i;
}

// Over its limit the pump stops at the first check with a trouble event
// (0x81010201), the node back to idle and the pump's status 0x8000; a
// trouble clear is acknowledged (0x00010413) and clears the status.
TEST_F(SimulatedNetworkTest, OverPressureStopsThePumpWithATroubleEvent) {
  const int node = Connect(false);
  Direct(node, 0x0101, {0xFFFF, 3000, 0xFFFF, 200, 0, 100, 0, 0});  // 294 bar of water
  LC_PumpStart(node);
  Sleep(1000);
  StatusOf(node, 0x0000);
  StatusOf(node, 0x0101);
  LC_TroubleClear(node);
  StatusOf(node, 0x0101);
  testing_support::ExpectMatchesGolden(ReplyLog(), "sim/golden/over-pressure-replies.txt");
}

TEST_F(SimulatedNetworkTest, NodeStatesThatNeedAResetLastUntilLC_Reset) {
  const int node = Connect(false);
  net.SetNodeStateForTesting(9);
  EXPECT_EQ(U32(StatusOf(node, 0), 16), 9u);
  LC_ResetRun(node);
  EXPECT_EQ(U32(StatusOf(node, 0), 16), 9u);
  LC_Reset(node);
  EXPECT_EQ(U32(StatusOf(node, 0), 16), 1u);
  EXPECT_EQ(RepliesOf(175, 0).size(), 1u);
}

TEST_F(SimulatedNetworkTest, ASampleRunInjectsRunsItsTimeAndEnds) {
  const int node = Connect();
  Bytes file = AnalysisFile(0x10);
  PutLine(file, false, 0, 0x0101, -1, 0, 1000);
  PutLine(file, true, 0, 0x0101, 60000, 0, 2000);
  Push(node, RunHeader(120, 7, 2, 5000), file);
  Sleep(3000);  // ready at 2500
  LC_Stop(node);
  LC_Reset(node);
  LC_ResetRun(node);
  Sleep(200000);
  // To the vial 3 s, drawing 2.25 s, injecting 1 s: injected (0x05010401)
  // 6.25 s after the run start at 3 s; the run ends (0x00000403) 120 s later.
  testing_support::ExpectMatchesGolden(ReplyLog(), "sim/golden/sample-run-replies.txt");
  const auto info = RepliesOf(173, 0x0501);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(I16(info[0], 22), 2);      // number_of_flush
  EXPECT_EQ(U32(info[0], 24), 5000u);  // inject_volume, nl
  EXPECT_EQ(I16(info[0], 32), 7);      // first_sample_no
  EXPECT_EQ(RepliesOf(153, 0).size(), 1u);
}

TEST_F(SimulatedNetworkTest, TimedOutputsAndValvesSwitchAtTheirRunTimesAndShowInTheNodeStatus) {
  using Action = sim::OutputStep::Action;
  const int node = Connect(false);
  sim::OutputProgram outputs;
  outputs.initialOn[1] = true;     // output 2
  outputs.initialPosition[0] = 2;  // valve 1
  outputs.timed = {{3000, false, 2, Action::kOff, 0},     {0, false, 3, Action::kOn, 0},
                   {1000, true, 1, Action::kPosition, 5}, {2000, false, 1, Action::kPulse, 0},
                   {3000, true, 4, Action::kPosition, 1}, {3000, false, 1, Action::kPosition, 0},
                   {3000, false, 5, Action::kOn, 0}};
  net.LoadOutputProgramForTesting(outputs);
  Push(node, RunHeader(60, 0xFFFF), AnalysisFile(0x10));
  LC_ResetRun(node);  // no vial: the run clock starts now, at 0
  // At each time: the node status's event word (byte 80) and valve word (84).
  for (const auto& [atMs, eventWord, valveWord] : {std::tuple{0, 0x6u, 0x002u}, std::tuple{1500, 0x6u, 0x005u},
                                                   std::tuple{2200, 0x7u, 0x005u}, std::tuple{2700, 0x6u, 0x005u},
                                                   std::tuple{3500, 0x4u, 0x005u}}) {
    Sleep(static_cast<DWORD>(atMs - platform::Clock::Get().NowMs()));
    const SimReply n = StatusOf(node, 0);
    EXPECT_EQ(U32(n, 80), eventWord) << atMs;
    EXPECT_EQ(U32(n, 84), valveWord) << atMs;
  }
  // Each change, and only a change, is an EVENT or VALVE event of the node.
  std::vector<std::pair<std::uint32_t, std::int64_t>> events;
  for (const SimReply& r : RepliesOf(kEvent, 0)) {
    if (U32(r, 16) != 0x00010000u) events.emplace_back(U32(r, 16), r.atMs);
  }
  EXPECT_EQ(events, (decltype(events){{0x00010411u, 0}, {0x00010412u, 1000}, {0x00010411u, 2000},
                                      {0x00010411u, 2500}, {0x00010411u, 3000}}));
}

TEST_F(SimulatedNetworkTest, BottlesHoldWhatTheLabelsNameAcrossAPowerUpAndThePressureFollows) {
  net.FillBottles({"Acetonitrile + 0.1 % formic acid", "Water / methanol 70:30", "THF"});
  const int node = Connect(false);
  const sim::Bottles bottles{sim::Solvent::kAcetonitrile, sim::Solvent::kMethanol, sim::Solvent::kTetrahydrofuran};
  EXPECT_EQ(net.InstrumentsNow().GetBottles(), bottles);
  Direct(node, 0x0101, {0xFFFF, 1000, 0xFFFF, 400, 0, 60, 0, 40});
  LC_PumpStart(node);
  const long expected = std::lround(sim::InstrumentModel::PressureBar(1000, {60, 0, 40}, 25.0, bottles));
  EXPECT_EQ(I16(StatusOf(node, 0x0101), 20), expected);
  EXPECT_EQ(I16(StatusOf(node, 0x0000), 66), expected);
}

TEST_F(SimulatedNetworkTest, RepliesOnDemandAreLoggedAsGiven) {
  Connect(false);
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  net.DeliverReplyForTesting(131, 0x00028101u, bytes, sizeof bytes);
  const SimReply r = net.Replies().back();
  EXPECT_EQ(r.kind, 131);
  EXPECT_EQ(r.sender, 0x00028101u);
  EXPECT_EQ(r.bytes, std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
  net.SendWarningForTesting(0x0401, 0x0033);
  EXPECT_EQ(U32(net.Replies().back(), 16), 0xC4010033u);
}

}  // namespace
