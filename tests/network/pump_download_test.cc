// The direct pump's method downloads, checked as the units receive them:
// the analysis file pushed at a run start and the direct commands, read
// from the simulated network's call log.
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "network/quarn_autosampler.h"
#include "network/quarn_pump.h"
#include "network/quarn_uv_detector.h"
#include "platform/inlet/inlet.h"
#include "tests/network/network_world.h"

namespace {

using testing_support::LeI32;
using testing_support::LeU16;
using Bytes = std::vector<std::uint8_t>;

struct Line {
  std::uint32_t unit;
  std::int32_t timeMs;
  std::uint32_t code;
  std::int32_t p0, p1, p2;
  bool operator==(const Line&) const = default;
};
void PrintTo(const Line& l, std::ostream* os) {
  *os << "{0x" << std::hex << l.unit << std::dec << " t " << l.timeMs << " code " << l.code << ": " << l.p0 << "/"
      << l.p1 << "/" << l.p2 << "}";
}
Line Initial(std::uint32_t unit, std::uint32_t code, std::int32_t p0, std::int32_t p1 = 0, std::int32_t p2 = 0) {
  return {unit, -1, code, p0, p1, p2};
}

// The lines of the table at `offset` whose count is at `countOffset`.
std::vector<Line> Lines(const Bytes& file, std::size_t offset, std::size_t countOffset) {
  std::vector<Line> lines;
  for (std::size_t i = 0, at = offset; i < LeU16(file, countOffset); ++i, at += 44) {
    lines.push_back({LeU16(file, at + 2), LeI32(file, at + 4), LeU16(file, at + 8), LeI32(file, at + 12),
                     LeI32(file, at + 16), LeI32(file, at + 20)});
  }
  return lines;
}
std::vector<Line> InitialLines(const Bytes& file) { return Lines(file, 16, 12); }
std::vector<Line> TimetableLines(const Bytes& file) { return Lines(file, 1424, 14); }
// The unit list up to its first free entry; every entry after it must be free.
std::vector<std::uint32_t> UnitList(const Bytes& file) {
  std::vector<std::uint32_t> units;
  std::size_t i = 0;
  for (; i < 64 && LeU16(file, 4240 + 2 * i) != 0; ++i) units.push_back(LeU16(file, 4240 + 2 * i));
  for (; i < 64; ++i) EXPECT_EQ(LeU16(file, 4240 + 2 * i), 0u) << "entry " << i;
  return units;
}

// A method as a user might write it: 1 ml/min, 400 / 5 bar, 10 min.
QuarnMethod MakeMethod(int pumpSystem, std::array<int, 4> inUse) {
  QuarnMethod m;
  PumpInitialCons& c = m.GetPumpInitialCons();
  c.Flow() = 1.0f;
  c.MaxPressure() = 400;
  c.MinPressure() = 5;
  c.StopTime() = 10.0f;
  c.PumpSystem() = pumpSystem;
  for (int i = 0; i < 4; ++i) m.GetSolventSelection().InUse(i) = inUse[static_cast<std::size_t>(i)];
  return m;
}
void AddSteps(QuarnMethod& m, int count) {
  for (int i = 0; i < count; ++i) m.GetPumpGradient().AddEntry({0.5f * static_cast<float>(i), 1.0f, 10.0f, 0, 0, 0});
}

class PumpDownloadTest : public testing_support::NetworkWorld {
 protected:
  void SetUp() override {
    NetworkWorld::SetUp();
    PretendSessionOpen();
  }
  // Both pump stages, as the pump front runs them.
  int Load(QuarnMethod& method) { return pump.DownloadInitialConditions(method) && pump.DownloadTimetable(method); }
  // The run header and analysis file the next pump start pushes.
  std::vector<Bytes> PushAtStart() {
    pump.StartMethod();
    return LastRecords("LC_PushAnlsFile");
  }
  // The last direct command to the unit written "0x0101", as logged.
  std::string LastCommandTo(const std::string& unit) const {
    const auto texts = net.CallTexts();
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
      if (it->rfind("LC_UnitDirect(" + unit, 0) == 0) return *it;
    }
    return {};
  }
  static void PresetCommandWords(std::uint16_t value) {
    for (std::size_t b = 0; b < 16; ++b) {
      g_downloadRecords.m_directCommand.Data()[b] = static_cast<std::uint8_t>(value >> (8 * (b % 2)));
    }
  }
  CQuarnPump pump;
};

// ---- The pump system decides the system code, the lines and the units ----

struct SystemCase {
  const char* name;
  int pumpSystem;
  std::uint32_t code;
  std::vector<Line> initialAfterPump1;  // behind pump 1's flow, upper and lower limit lines
  std::vector<std::uint32_t> units;
  std::string pumpCommand;
  std::size_t timetableLines;
};

class SystemCodeTest : public PumpDownloadTest, public testing::WithParamInterface<SystemCase> {};

const Line kComposition = Initial(0x0101, 1, 70, 30, 0);
const std::vector<Line> kPump2 = {kComposition, Initial(0x0102, 2, 400), Initial(0x0102, 3, 5)};

INSTANTIATE_TEST_SUITE_P(
    Systems, SystemCodeTest,
    testing::Values(
        SystemCase{"Isocratic", pumpSystemIsocratic, 1, {}, {0x0101},
                   "LC_UnitDirect(0x0101 0xabcd 0x03e8 0xffff 0x0190 0x0005 0xabcd 0xabcd 0xabcd)", 0},
        SystemCase{"Quaternary", pumpSystemQuaternary, 0x10, {kComposition}, {0x0101},
                   "LC_UnitDirect(0x0101 0x0010 0x03e8 0xffff 0x0190 0x0005 0x0046 0x001e 0xabcd)", 6},
        SystemCase{"Binary", pumpSystemBinary, 0x200, kPump2, {0x0101, 0x0102},
                   "LC_UnitDirect(0x0101 0x0200 0x03e8 0xffff 0x0190 0x0005 0x0046 0x001e 0xabcd)", 6},
        SystemCase{"Ternary", pumpSystemTernary, 0x300,
                   {kComposition, Initial(0x0102, 2, 400), Initial(0x0102, 3, 5), Initial(0x0103, 2, 400),
                    Initial(0x0103, 3, 5)},
                   {0x0101, 0x0102, 0x0103},
                   "LC_UnitDirect(0x0101 0x0300 0x03e8 0xffff 0x0190 0x0005 0x0046 0x001e 0xabcd)", 6}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(SystemCodeTest, FileLinesUnitsAndPumpCommand) {
  const SystemCase& c = GetParam();
  QuarnMethod m = MakeMethod(c.pumpSystem, {1, 1, 0, 0});
  m.GetPumpInitialCons().PercentB() = 30.0f;
  AddSteps(m, 2);
  PresetCommandWords(0xABCD);
  ASSERT_EQ(Load(m), 1);

  const Bytes file = PushAtStart().at(1);
  EXPECT_EQ(static_cast<std::uint32_t>(LeI32(file, 0)), c.code);
  EXPECT_EQ(LeI32(file, 4), 0);
  EXPECT_EQ(LeI32(file, 8), 5678);
  std::vector<Line> initial = {Initial(0x0101, 0, 1000), Initial(0x0101, 2, 400), Initial(0x0101, 3, 5)};
  initial.insert(initial.end(), c.initialAfterPump1.begin(), c.initialAfterPump1.end());
  EXPECT_EQ(InitialLines(file), initial);
  EXPECT_EQ(TimetableLines(file).size(), c.timetableLines);
  EXPECT_EQ(UnitList(file), c.units);
  EXPECT_EQ(LastCommandTo("0x0101"), c.pumpCommand);
}

TEST_F(PumpDownloadTest, OvenAutosamplerAndUvJoinTheFileInTheOrderOfTheirDownloads) {
  QuarnMethod m = MakeMethod(pumpSystemTernary, {1, 1, 1, 0});
  m.GetPumpInitialCons().OvenInUse() = 1;
  m.GetPumpInitialCons().OvenTemperature() = 39.6f;
  CQuarnAutoSampler sampler;
  CQuarnUVDetector uv;
  ASSERT_EQ(Load(m), 1);
  ASSERT_EQ(sampler.DownloadMethod(m), 1);
  ASSERT_EQ(uv.DownloadMethod(m), 1);
  // The oven hears first (its target truncated), then the pump.
  EXPECT_EQ(HostCallsFrom(0), (std::vector<std::string>{
                                  "LC_UnitDirect(0x0601 0x0001 0x0027 0x0000 0x0000 0x0000 0x0000 0x0000 0x0000)",
                                  "LC_UnitDirect(0x0101 0x0300 0x03e8 0xffff 0x0190 0x0005 0x0064 0x0000 0x0000)",
                                  "LC_UnitDirect(0x0401 0x09ec 0x0001 0xffff 0x0003 0x0005 0x0064 0x0000 0x0000)"}));
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "QUARN900");

  const Bytes file = PushAtStart().at(1);
  EXPECT_EQ(UnitList(file), (std::vector<std::uint32_t>{0x0101, 0x0102, 0x0103, 0x0601, 0x0501, 0x0401}));
  const auto lines = InitialLines(file);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(std::vector<Line>(lines.begin() + 8, lines.end()),
            (std::vector<Line>{Initial(0x0601, 4, 40), Initial(0x0401, 7, 2540), Initial(0x0401, 9, 1)}));

  // Without the oven: no oven command, no make.
  QuarnMethod noOven = MakeMethod(pumpSystemTernary, {1, 1, 1, 0});
  const std::size_t before = net.Calls().size();
  ASSERT_EQ(Load(noOven), 1);
  EXPECT_EQ(HostCallsFrom(before).size(), 1u);
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "");
}

TEST_F(PumpDownloadTest, ASecondLoadCarriesNothingOfTheFirstIntoItsLines) {
  QuarnMethod first = MakeMethod(pumpSystemTernary, {1, 1, 1, 0});
  first.GetPumpInitialCons().PercentB() = 30.0f;
  first.GetPumpInitialCons().PercentC() = 10.0f;
  first.GetPumpInitialCons().OvenInUse() = 1;
  CQuarnUVDetector uv;
  ASSERT_EQ(Load(first), 1);
  ASSERT_EQ(uv.DownloadMethod(first), 1);
  // The UV lines now follow three pump lines, where the composition line
  // with its B and C shares stood.
  QuarnMethod second = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
  ASSERT_EQ(Load(second), 1);
  ASSERT_EQ(uv.DownloadMethod(second), 1);

  const Bytes file = PushAtStart().at(1);
  EXPECT_EQ(InitialLines(file), (std::vector<Line>{Initial(0x0101, 0, 1000), Initial(0x0101, 2, 400),
                                                   Initial(0x0101, 3, 5), Initial(0x0401, 7, 2540),
                                                   Initial(0x0401, 9, 1)}));
  for (std::size_t i = 5, at = 16 + 5 * 44; i < 32; ++i, at += 44) {
    EXPECT_EQ((Line{LeU16(file, at + 2), LeI32(file, at + 4), LeU16(file, at + 8), LeI32(file, at + 12),
                    LeI32(file, at + 16), LeI32(file, at + 20)}),
              Initial(0, 0, 0))
        << "unused initial line " << i;
  }
}

// ---- Flow and composition: rounded or truncated, as each record wants ----

struct CompositionCase {
  const char* name;
  int inUseB, inUseC;
  float percentB, percentC;
  Line line;
  std::string words5to7;  // of the pump's direct command
};

class CompositionTest : public PumpDownloadTest, public testing::WithParamInterface<CompositionCase> {};

INSTANTIATE_TEST_SUITE_P(
    Shares, CompositionTest,
    testing::Values(CompositionCase{"BRounded", 1, 0, 30.6f, 0.0f, Initial(0x0101, 1, 69, 31), "0x0045 0x001e 0xeeee)"},
                    CompositionCase{"BNotInUse", 0, 0, 20.0f, 0.0f, Initial(0x0101, 1, 100), "0x0064 0xeeee 0xeeee)"},
                    CompositionCase{"BAndC", 1, 1, 30.6f, 10.5f, Initial(0x0101, 1, 58, 31, 11),
                                    "0x003a 0x001e 0x000a)"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(CompositionTest, LineAndCommandWords) {
  const CompositionCase& c = GetParam();
  // Solvent D has no channel on the units: its share runs as A.
  QuarnMethod m = MakeMethod(pumpSystemTernary, {1, c.inUseB, c.inUseC, 1});
  m.GetPumpInitialCons().PercentB() = c.percentB;
  m.GetPumpInitialCons().PercentC() = c.percentC;
  m.GetPumpInitialCons().PercentD() = 15.0f;
  PresetCommandWords(0xEEEE);
  ASSERT_EQ(Load(m), 1);
  EXPECT_EQ(InitialLines(PushAtStart().at(1)).at(3), c.line);
  const std::string command = LastCommandTo("0x0101");
  EXPECT_EQ(command.substr(command.size() - c.words5to7.size()), c.words5to7);
}

TEST_F(PumpDownloadTest, FlowIsTruncatedInTheFileAndRoundedInTheCommand) {
  for (auto [flow, line, word] : {std::tuple{0.0005f, 0, "0x0001"}, std::tuple{0.0015f, 1, "0x0002"}}) {
    QuarnMethod m = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
    m.GetPumpInitialCons().Flow() = flow;
    ASSERT_EQ(Load(m), 1);
    EXPECT_EQ(InitialLines(PushAtStart().at(1)).at(0), Initial(0x0101, 0, line)) << flow;
    EXPECT_EQ(LastCommandTo("0x0101").substr(28, 6), word) << flow;  // word 1
  }
}

// ---- The gradient timetable and the stop time ----

TEST_F(PumpDownloadTest, EachStepGivesFlowLimitAndCompositionLinesInTimeOrder) {
  QuarnMethod m = MakeMethod(pumpSystemTernary, {1, 1, 1, 1});
  PumpGradient& g = m.GetPumpGradient();
  g.AddEntry({1.5f, 1.25f, 40.0f, 0.0f, 0.0f, 0});
  g.AddEntry({0.0f, 1.0f, 10.0f, 0.0f, 0.0f, 0});
  // Same time: kept after the one above. Its own limit and its D share
  // are not the units' to take: the method's limit, D as A.
  g.AddEntry({1.5f, 2.0f, 60.0f, 4.5f, 20.0f, 350});
  ASSERT_EQ(Load(m), 1);
  EXPECT_EQ(TimetableLines(PushAtStart().at(1)),
            (std::vector<Line>{{0x0101, 0, 0, 1000, 0, 0},     {0x0101, 0, 2, 400, 0, 0},
                               {0x0101, 0, 1, 90, 10, 0},      {0x0101, 90000, 0, 1250, 0, 0},
                               {0x0101, 90000, 2, 400, 0, 0},  {0x0101, 90000, 1, 60, 40, 0},
                               {0x0101, 90000, 0, 2000, 0, 0}, {0x0101, 90000, 2, 400, 0, 0},
                               {0x0101, 90000, 1, 35, 60, 5}}));
}

TEST_F(PumpDownloadTest, APumpStartRunsForTheStopTimeWhichZeroLeavesAsItWasExceptOnTheFirstLoad) {
  std::vector<std::int32_t> runTimes;
  for (float stopTime : {0.0f, 12.5f, 0.0f, 2.3f, 0.7f}) {
    QuarnMethod m = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
    m.GetPumpInitialCons().StopTime() = stopTime;
    ASSERT_EQ(Load(m), 1);
    const Bytes header = PushAtStart().at(0);
    runTimes.push_back(LeI32(header, 16));
    EXPECT_EQ(LeI32(header, 20), -1);  // a pump start names no vial: 0xFFFF first and last
  }
  // Minutes to seconds in single precision: 2.3 min is 138 s, 0.7 min 42 s.
  EXPECT_EQ(runTimes, (std::vector<std::int32_t>{0, 750, 750, 138, 42}));
}

// ---- A gradient the timetable cannot hold is refused, and nothing changes ----

TEST_F(PumpDownloadTest, TwentyTwoStepsAreRefusedWithWhyAndTheLoadedMethodStaysWhole) {
  QuarnMethod loaded = MakeMethod(pumpSystemQuaternary, {1, 1, 1, 1});
  AddSteps(loaded, 4);
  ASSERT_EQ(Load(loaded), 1);
  const AnlsFile before = g_downloadRecords.m_anlsFile;
  const std::size_t calls = net.Calls().size();

  QuarnMethod m = MakeMethod(pumpSystemQuaternary, {1, 1, 1, 1});
  m.GetPumpInitialCons().StopTime() = 20.0f;
  m.GetPumpInitialCons().OvenInUse() = 1;
  AddSteps(m, 22);
  EXPECT_EQ(pump.DownloadInitialConditions(m), 0);
  EXPECT_EQ(pump.DownloadTimetable(m), 0);  // also when called alone

  ASSERT_EQ(ui.MessageBoxes().size(), 2u);
  EXPECT_EQ(ui.MessageBoxes()[0],
            "MessageBox 0x30: This method's gradient timetable has 22 steps, but the direct instrument network "
            "holds at most 21.\nMerge or remove steps to leave 21 or fewer and load the method again; a shortened "
            "gradient is not sent, since it would change the separation.\nThe method was not loaded.");
  EXPECT_TRUE(HostCallsFrom(calls).empty());
  EXPECT_TRUE(std::equal(before.Data(), before.Data() + sizeof(AnlsFile), g_downloadRecords.m_anlsFile.Data()));
  EXPECT_EQ(LeI32(PushAtStart().at(0), 16), 600);  // the loaded method's stop time
}

TEST_F(PumpDownloadTest, TwentyOneStepsFillTheTimetableAndNoMoreAreAppended) {
  QuarnMethod m = MakeMethod(pumpSystemBinary, {1, 1, 0, 0});
  AddSteps(m, 21);
  ASSERT_EQ(Load(m), 1);
  EXPECT_EQ(TimetableLines(PushAtStart().at(1)).size(), 63u);

  QuarnMethod more = MakeMethod(pumpSystemBinary, {1, 1, 0, 0});
  AddSteps(more, 1);
  EXPECT_EQ(pump.DownloadTimetable(more), 0);
  EXPECT_EQ(ui.MessageBoxes(),
            std::vector<std::string>{"MessageBox 0x30: This gradient timetable has 1 steps, but only 0 more fit "
                                     "behind the 63 timetable lines already loaded.\nLoad the whole method again, "
                                     "so that the analysis file starts afresh.\nThe gradient timetable was not "
                                     "loaded."});

  // One pump carries no timetable, so any number of steps is taken.
  QuarnMethod isocratic = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
  AddSteps(isocratic, 30);
  EXPECT_EQ(Load(isocratic), 1);
  EXPECT_EQ(TimetableLines(PushAtStart().at(1)).size(), 0u);
}

TEST_F(PumpDownloadTest, ACommunicationsFailureIsShownUnderThePumpHeadingAndThrownOn) {
  try {
    RunWithPumpCommsMessage([]() -> int { ThrowCCommunicationsException(4, "No answer from the node"); });
    ADD_FAILURE() << "not thrown on";
  } catch (const CCommunicationsException& e) {
    EXPECT_EQ(e.GetErrorMessage(), "Quarn PUMP Communications.\n\nNo answer from the node");
    EXPECT_EQ(e.GetCode(), 4);
  }
  EXPECT_EQ(ui.MessageBoxes(),
            std::vector<std::string>{"MessageBox 0x30: Quarn PUMP Communications.\n\nNo answer from the node"});
}

}  // namespace
