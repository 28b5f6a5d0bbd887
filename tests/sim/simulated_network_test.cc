#include "sim/simulated_network.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/vexlink/reply_formats.h"
#include "platform/vexlink/vexlink.h"
#include "platform/win/windows.h"
#include "tests/support/golden.h"
#include "tests/support/hex_dump.h"
#include "tests/support/test_world.h"
#include "tests/support/transcript.h"
#include "tests/support/wire_records.h"

namespace {

using sim::SimReply;

constexpr int kEvent = 113;
constexpr int kStatus = 115;
constexpr const char* kPath = kVexlinkDevicePath;  // by this name in the golden transcripts

std::uint32_t U16(const SimReply& r, std::size_t offset) { return r.bytes.at(offset) | (r.bytes.at(offset + 1) << 8); }
std::int32_t I16(const SimReply& r, std::size_t offset) { return static_cast<std::int16_t>(U16(r, offset)); }
std::uint32_t U32(const SimReply& r, std::size_t offset) { return U16(r, offset) | (U16(r, offset + 2) << 16); }
bool IsTimer(const SimReply& r) { return r.kind == kEvent && U32(r, 16) == 0x00010000u; }

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
             std::int32_t p0, std::int32_t p1 = 0) {
  const std::size_t line = (timetable ? 1424 : 16) + 44 * static_cast<std::size_t>(index);
  file.Put(line + 2, unit, 2).Put(line + 4, static_cast<std::uint32_t>(timeMs), 4).Put(line + 8, code, 2);
  file.Put(line + 12, static_cast<std::uint32_t>(p0), 4).Put(line + 16, static_cast<std::uint32_t>(p1), 4);
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
    net.FitHydraulics(sim::Hydraulics::Instant());  // the liquid path has tests of its own
  }
  void TearDown() override {
    transcript.ExpectMatchesGolden("sim");
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
      if (IsTimer(r)) continue;
      char line[80];
      std::snprintf(line, sizeof line, "%7lld ms  kind %3d  from %08x  word %08x\n", static_cast<long long>(r.atMs),
                    r.kind, static_cast<unsigned>(r.sender), U32(r, 16));
      log += line;
    }
    return log;
  }

  // The calls and replies since last asked: each call with its node, each
  // reply (timer events only if `timers`) with bytes 16 to 47 of its record.
  std::vector<std::string> Traffic() {
    std::vector<std::string> lines;
    const auto calls = net.Calls();
    for (; m_calls < calls.size(); ++m_calls) lines.push_back(std::to_string(calls[m_calls].node) + ": " + calls[m_calls].text);
    const auto replies = net.Replies();
    for (; m_replies < replies.size(); ++m_replies) {
      const SimReply& r = replies[m_replies];
      if (!timers && IsTimer(r)) continue;
      char line[64];
      std::snprintf(line, sizeof line, "reply %d from %08x at %lld ms:", r.kind, static_cast<unsigned>(r.sender),
                    static_cast<long long>(r.atMs));
      lines.push_back(line);
      for (std::size_t i = 16; i < std::min<std::size_t>(r.bytes.size(), 48); ++i) {
        std::snprintf(line, sizeof line, " %02x", r.bytes[i]);
        lines.back() += line;
      }
    }
    return lines;
  }
  std::string Units() const {
    const sim::InstrumentModel u = net.InstrumentsNow();
    std::ostringstream text;
    text << "pumps " << u.ReadPump(0).flowUlMin << " and " << u.ReadPump(1).flowUlMin << " ul/min, upper "
         << u.ReadPump(0).upperLimitBar << " bar, B " << u.ReadNode().composition.b << " %, oven " << u.ReadOven().status
         << " to " << u.ReadOven().setPointC << " C, UV " << std::hex << u.ReadUv().status << std::dec << " at "
         << u.ReadUv().wavelengthTenthsNm;
    return text.str();
  }

  sim::SimulatedNetwork& net = sim::SimulatedNetwork::Get();
  bool timers = false;
  std::size_t m_calls = 0, m_replies = 0;
  testing_support::Transcript transcript{[this] { return Traffic(); }};
};

TEST_F(SimulatedNetworkTest, OpenNeedsTheDriverTheRightPathAndAFreeNode) {
  EXPECT_EQ(NOTE(LC_NodeOpen(kPath, 0)), 1);
  EXPECT_EQ(NOTE(LC_NodeOpen(kPath, 0)), -1);  // already open
  EXPECT_EQ(NOTE(LC_NodeClose(1)), 0);
  EXPECT_EQ(NOTE(LC_NodeOpen("\\\\.\\Vexlink1", 0)), -1);
  EXPECT_EQ(NOTE(LC_NodeOpen(nullptr, 0)), -1);
  net.SetDriverMissing(true);
  EXPECT_EQ(NOTE(LC_NodeOpen(kPath, 0)), -1);
  net.SetDriverMissing(false);
  EXPECT_EQ(NOTE(LC_NodeOpen(kPath, 0)), 2);
}

TEST_F(SimulatedNetworkTest, CommandsToANodeThatIsNotOpenAreLoggedAndRefused) {
  EXPECT_EQ(NOTE(LC_PumpStart(5)), -1);
  EXPECT_EQ(NOTE(LC_UnitStatus(0, 0x0101)), -1);
  EXPECT_EQ(net.CallTexts(true), (std::vector<std::string>{"LC_PumpStart()", "LC_UnitStatus(0x0101)"}));
}

TEST_F(SimulatedNetworkTest, ConnectedNodeSendsATimerEventEverySecond) {
  timers = true;
  const int node = LC_NodeOpen(kPath, 0);
  NOTE(Sleep(500));  // nothing before the connect
  EXPECT_TRUE(net.Replies().empty());
  NOTE(LC_NodeConnect(node, 0));
  NOTE(Sleep(3000));
  std::vector<std::int64_t> timerTimes;
  for (const SimReply& r : net.Replies()) {
    if (IsTimer(r)) timerTimes.push_back(r.atMs);
  }
  EXPECT_EQ(timerTimes, (std::vector<std::int64_t>{1500, 2500, 3500}));
  net.SetTimerPeriodForTesting(0);
  NOTE(Sleep(5000));
  EXPECT_EQ(net.Replies().size(), timerTimes.size() + 1);  // and the connect's reply
}

// A unit's status record by its layout's field names; the header (16 bytes
// nothing here interprets) as it is, and any other byte that is not 0.
std::string RenderStatus(std::uint16_t unit, std::vector<std::uint8_t> bytes) {
  using namespace reply;
  std::string header = "header";
  for (std::size_t i = 0; i < 16; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", bytes[i]);
    header += (i % 4 ? "" : " ") + std::string(byte);
  }
  testing_support::WireFields f(std::move(bytes));
  f.Skip(0, 16);
  using S = SampleInfo<28>;
  const std::string sample =
      f.Named<S::AnlsSerial, S::UserProgram, S::NumberOfFlush, S::InjectVolume, S::DelayTime, S::AnlsTime,
              S::FirstSampleNo, S::LastSampleNo, S::NumberOfInject, S::CurrentSampleNo, S::CurrentInjectNo>(
          {"anls_serial", "user_program", "flushes", "inject_volume", "delay", "anls_time", "first", "last",
           "injections", "current", "current_inject"});
  std::string fields;
  switch (unit) {
    case 0x0000: {
      using N = NodeStatus;
      fields = f.Named<N::Status, N::ElapsedAnlsTime>({"status", "elapsed"}) + "\n  sample: " + sample + "\n  " +
               f.Named<N::SysfileSerial, N::Comp<0>, N::Comp<1>, N::Comp<2>, N::ActuallPress, N::ActuallFlow,
                       N::SetFlow, N::SetPress, N::SetPmax, N::SetPmin, N::CurrentSysfileNo, N::Event, N::Valve,
                       N::TotalTime>({"sysfile_serial", "comp_a", "comp_b", "comp_c", "press", "flow", "set_flow",
                                      "set_press", "pmax", "pmin", "sysfile_no", "event", "valve", "total_time"});
      break;
    }
    case 0x0501: {
      using A = AutosamplerStatus;
      fields = f.Named<A::Status, A::SampleNumber, A::NumberOfInject, A::IAmLastSample>(
                   {"status", "sample_number", "injections", "last_sample"}) +
               "\n  sample: " + sample;
      break;
    }
    case 0x0601:
      fields = f.Named<OvenStatus::Status, OvenStatus::Temp, OvenStatus::SetTemp>({"status", "temp", "set_temp"});
      break;
    case 0x0401: {
      using U = UVStatus;
      fields = f.Named<U::Status, U::Nwl, U::Range, U::Response, U::Wavelength, U::Absorbance, U::SigSample,
                       U::SigReference>(
          {"status", "nwl", "range", "response", "wavelength", "absorbance", "sig_sample", "sig_reference"});
      break;
    }
    default: {
      using P = PumpStatus;
      fields = f.Named<P::Status, P::ActualPress, P::ActualFlow, P::Comp<0>, P::Comp<1>, P::Comp<2>, P::SetFlow,
                       P::SetPress, P::SetPmax, P::SetPmin>({"status", "press", "flow", "comp_a", "comp_b", "comp_c",
                                                            "set_flow", "set_press", "pmax", "pmin"});
    }
  }
  return header + "\n  " + fields + f.Rest();
}

TEST_F(SimulatedNetworkTest, StatusRecordsCarryTheUnitsStateInTheirLayouts) {
  const int node = Connect();
  Bytes file = AnalysisFile(0x10);
  int index = 0;  // unit, code, parameters
  for (auto [unit, code, p0, p1] : {std::tuple<WORD, WORD, int, int>{0x0101, 0, 1500, 0}, {0x0101, 1, 60, 40},
                                    {0x0101, 2, 350, 0}, {0x0101, 3, 5, 0}, {0x0601, 4, 40, 0}, {0x0401, 7, 2800, 0},
                                    {0x0401, 9, 3, 0}}) {
    PutLine(file, false, index++, unit, -1, code, p0, p1);
  }
  Push(node, RunHeader(600, 0xFFFF), file);
  LC_PumpStart(node);
  Sleep(60000);  // the oven has heated for a minute: 27.5 degrees

  // Each unit's status record as the units send it (the node's: pump on,
  // 60/40 % at 1.5 ml/min between 350 and 5 bar, one file pushed; the oven
  // at 28 of 40 degrees; the UV lamp on at 280.0 nm), field by field.
  std::string text;
  for (std::uint16_t unit : {0x0000, 0x0101, 0x0102, 0x0501, 0x0601, 0x0401}) {
    const SimReply r = StatusOf(node, unit);
    char title[64];
    std::snprintf(title, sizeof title, "status of %04x from %08x at %lld ms\n  ", unit, static_cast<unsigned>(r.sender),
                  static_cast<long long>(r.atMs));
    text += title + RenderStatus(unit, {r.bytes.begin(), r.bytes.begin() + 128}) + "\n";
  }
  testing_support::ExpectMatchesGolden(text, "sim/golden/unit-status-records.txt");
}

TEST_F(SimulatedNetworkTest, DirectCommandsActAsTheirWordsSay) {
  // 0x200: two pumps deliver; 0xFFFF leaves a value, and so do words that
  // are no composition. Each command is acknowledged.
  const int node = Connect();
  Direct(node, 0x0101, {0x0200, 1200, 0xFFFF, 250, 10, 70, 30, 0});
  LC_PumpStart(node);
  std::vector<std::string> units{NOTE(Units())};
  for (std::vector<std::uint16_t> words : {std::vector<std::uint16_t>{0x0001, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 69, 30, 7},
                                           {1, 45}, {0, 45}, {2540, 2, 0xFFFF, 0}, {0xFFFF, 0xFFFF, 0xFFFF, 3}}) {
    Direct(node, words.size() == 2 ? 0x0601 : words.size() == 4 ? 0x0401 : 0x0101, words);
    units.push_back(NOTE(Units()));
  }
  using testing::HasSubstr;
  EXPECT_THAT(units, testing::ElementsAre(HasSubstr("pumps 1200 and 1200 ul/min, upper 250 bar, B 30 %"),
                                          HasSubstr("B 30 %, oven 0"), HasSubstr("oven 1 to 45 C"),
                                          HasSubstr("oven 0 to 0 C, UV 0 "), HasSubstr("UV 4000 at 2540"),
                                          HasSubstr("UV 0 at 2540")));
  NOTE(testing_support::HexDump(net.Calls().back().records.at(0)));
  NOTE(Sleep(20));
  const auto replies = net.Replies();
  EXPECT_EQ(std::count_if(replies.begin(), replies.end(), [](const SimReply& r) { return r.kind == 139; }), 6);
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
    net.SetAutosamplerSilent(silent);
    const int node = Connect(present);
    LC_UnitStatus(node, 0x0501);
    LC_Inquiry(node, 0x0501);
    Sleep(70000);
    log += std::string("== ") + name + "\n" + ReplyLog();
  }
  testing_support::ExpectMatchesGolden(log, "sim/golden/autosampler-replies.txt");
}

// The node names itself, then lists the units configured present.
TEST_F(SimulatedNetworkTest, InquiryOfTheNodeIdentifiesItAndListsTheUnits) {
  using reply::Identification, reply::UnitList;
  LC_Inquiry(Connect(false), 0);
  Sleep(20);
  const auto ids = RepliesOf(kReplyInquiry, 0), lists = RepliesOf(kReplyConfig, 0);
  ASSERT_EQ(ids.size() + lists.size(), 2u);
  const le::View<sim::SimulatedNetwork::kStoredReplySize> id(ids[0].bytes.data()), list(lists[0].bytes.data());
  std::string texts;
  for (std::string_view text : {id.Text<Identification::Vender>(), id.Text<Identification::ModelName>(),
                                id.Text<Identification::ModelVersion>(), id.Text<Identification::ModelSerial>(),
                                id.Text<Identification::ModelSccs>()}) {
    texts += std::string(text) + "|";
  }
  EXPECT_EQ(texts, "QUARN|QN-900 NODE|SIM 1.0|SIM-0000|sim|");
  std::vector<std::uint16_t> units;
  for (std::size_t i = 0; i < list.Get<UnitList::Count>(); ++i) {
    units.push_back(list.Row<UnitList::Units>(i).Get<UnitList::Unit>());
  }
  EXPECT_EQ(units, (std::vector<std::uint16_t>{0x0101, 0x0102, 0x0103, 0x0401, 0x0601}));
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
  net.SetNodeState(9);
  EXPECT_EQ(NOTE(U32(StatusOf(node, 0), 16)), 9u);
  NOTE(LC_ResetRun(node));
  EXPECT_EQ(NOTE(U32(StatusOf(node, 0), 16)), 9u);
  NOTE(LC_Reset(node));
  EXPECT_EQ(NOTE(U32(StatusOf(node, 0), 16)), 1u);
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
  // The injection's record (173): 2 flushes at 22, 5000 nl at 24, vial 7 at 32.
  NOTE(RepliesOf(153, 0).size());
  // The autosampler still names the run's vial, its last.
  const SimReply sampler = StatusOf(node, 0x0501);
  EXPECT_EQ(I16(sampler, 24), 7);
  EXPECT_EQ(I16(sampler, 56), 1);
}

TEST_F(SimulatedNetworkTest, RepliesOnDemandAreLoggedAsGiven) {
  Connect(false);
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  NOTE(net.DeliverReply(131, 0x00028101u, bytes, sizeof bytes));
  const SimReply given = net.Replies().back();
  EXPECT_EQ(std::tuple(given.kind, given.sender, given.bytes), std::tuple(131, 0x00028101u, std::vector(bytes, bytes + 17)));
  NOTE(testing_support::HexDump(net.Replies().back().bytes));
  NOTE(net.SendWarning(0x0401, 0x0033));
  const SimReply warning = net.Replies().back();
  EXPECT_EQ(std::tuple(warning.kind, warning.sender, U32(warning, 16)), std::tuple(kEvent, 0x00010401u, 0xc4010033u));
}

}  // namespace
