// The direct pump's method downloads, checked as the units receive them:
// the bytes of the analysis file pushed at a run start and of the direct
// commands, read from the simulated network's call log.
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

constexpr std::size_t kInitialLines = 16;
constexpr std::size_t kTimetableLines = 1424;
constexpr std::size_t kUnitList = 4240;
constexpr std::size_t kLineSize = 44;

struct Line {
  std::uint32_t unit;
  std::int32_t timeMs;
  std::uint32_t code;
  std::int32_t p0, p1, p2;
  bool operator==(const Line&) const = default;
};
void PrintTo(const Line& l, std::ostream* os) {
  *os << "{unit 0x" << std::hex << l.unit << std::dec << ", t " << l.timeMs << ", code " << l.code << ", " << l.p0
      << "/" << l.p1 << "/" << l.p2 << "}";
}
Line InitialLine(std::uint32_t unit, std::uint32_t code, std::int32_t p0, std::int32_t p1 = 0, std::int32_t p2 = 0) {
  return {unit, -1, code, p0, p1, p2};
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

class PumpDownloadTest : public testing_support::NetworkWorld {
 protected:
  void SetUp() override {
    NetworkWorld::SetUp();
    PretendSessionOpen();
  }

  // Both pump stages, as the pump front runs them.
  int Load(QuarnMethod& method) {
    const int ok = pump.DownloadInitialConditions(method);
    return ok ? pump.DownloadTimetable(method) : 0;
  }
  // The analysis file and run header the next pump start pushes.
  std::vector<std::vector<std::uint8_t>> PushAtStart() {
    pump.StartMethod();
    return LastRecords("LC_PushAnlsFile");
  }
  static std::vector<Line> Lines(const std::vector<std::uint8_t>& file, std::size_t table, std::size_t countOffset) {
    std::vector<Line> lines;
    for (std::uint32_t i = 0; i < LeU16(file, countOffset); ++i) {
      const std::size_t at = table + kLineSize * i;
      lines.push_back({LeU16(file, at + 2), LeI32(file, at + 4), LeU16(file, at + 8), LeI32(file, at + 12),
                       LeI32(file, at + 16), LeI32(file, at + 20)});
    }
    return lines;
  }
  static std::vector<Line> InitialLines(const std::vector<std::uint8_t>& file) {
    return Lines(file, kInitialLines, 12);
  }
  static std::vector<Line> TimetableLines(const std::vector<std::uint8_t>& file) {
    return Lines(file, kTimetableLines, 14);
  }
  // The unit list up to its first free entry, and whether all after it are free.
  static std::vector<std::uint32_t> UnitList(const std::vector<std::uint8_t>& file) {
    std::vector<std::uint32_t> units;
    std::size_t i = 0;
    for (; i < 64 && LeU16(file, kUnitList + 2 * i) != 0; ++i) units.push_back(LeU16(file, kUnitList + 2 * i));
    for (; i < 64; ++i) EXPECT_EQ(LeU16(file, kUnitList + 2 * i), 0u) << "entry " << i;
    return units;
  }
  // The eight words of the last direct command sent to `unit`.
  std::vector<std::uint32_t> LastCommandTo(const std::string& unitHex) const {
    const auto calls = net.Calls();
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->name == "LC_UnitDirect" && it->text.find("(" + unitHex) != std::string::npos) {
        std::vector<std::uint32_t> words;
        for (std::size_t w = 0; w < 8; ++w) words.push_back(LeU16(it->records.at(0), 2 * w));
        return words;
      }
    }
    return {};
  }
  static void PresetCommandWords(std::uint16_t value) {
    for (std::size_t w = 0; w < 8; ++w) {
      g_downloadRecords.m_directCommand.Data()[2 * w] = static_cast<std::uint8_t>(value);
      g_downloadRecords.m_directCommand.Data()[2 * w + 1] = static_cast<std::uint8_t>(value >> 8);
    }
  }

  CQuarnPump pump;
};

// ---- The pump system decides the system code, the lines and the units ----

struct SystemCase {
  const char* name;
  int pumpSystem;
  std::uint32_t code;
  std::vector<Line> initial;
  std::vector<std::uint32_t> units;
  std::vector<std::uint32_t> pumpCommand;
  std::size_t timetableLines;
};

void PrintTo(const SystemCase& c, std::ostream* os) { *os << c.name; }

class SystemCodeTest : public PumpDownloadTest, public testing::WithParamInterface<SystemCase> {};

const std::vector<Line> kPumpLines = {InitialLine(0x0101, 0, 1000), InitialLine(0x0101, 2, 400),
                                      InitialLine(0x0101, 3, 5)};
std::vector<Line> With(std::vector<Line> lines, const std::vector<Line>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}
const Line kComposition = InitialLine(0x0101, 1, 70, 30, 0);

INSTANTIATE_TEST_SUITE_P(
    Systems, SystemCodeTest,
    testing::Values(
        SystemCase{"Isocratic", pumpSystemIsocratic, 1, kPumpLines, {0x0101},
                   {0xABCD, 1000, 0xFFFF, 400, 5, 0xABCD, 0xABCD, 0xABCD}, 0},
        SystemCase{"Quaternary", pumpSystemQuaternary, 0x10, With(kPumpLines, {kComposition}), {0x0101},
                   {0x10, 1000, 0xFFFF, 400, 5, 70, 30, 0xABCD}, 6},
        SystemCase{"Binary", pumpSystemBinary, 0x200,
                   With(kPumpLines, {kComposition, InitialLine(0x0102, 2, 400), InitialLine(0x0102, 3, 5)}),
                   {0x0101, 0x0102}, {0x200, 1000, 0xFFFF, 400, 5, 70, 30, 0xABCD}, 6},
        SystemCase{"Ternary", pumpSystemTernary, 0x300,
                   With(kPumpLines, {kComposition, InitialLine(0x0102, 2, 400), InitialLine(0x0102, 3, 5),
                                     InitialLine(0x0103, 2, 400), InitialLine(0x0103, 3, 5)}),
                   {0x0101, 0x0102, 0x0103}, {0x300, 1000, 0xFFFF, 400, 5, 70, 30, 0xABCD}, 6}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(SystemCodeTest, FileLinesUnitsAndPumpCommand) {
  const SystemCase& c = GetParam();
  QuarnMethod m = MakeMethod(c.pumpSystem, {1, 1, 0, 0});
  m.GetPumpInitialCons().PercentB() = 30.0f;
  m.GetPumpGradient().AddEntry({0.0f, 1.0f, 30.0f, 0.0f, 0.0f, 0});
  m.GetPumpGradient().AddEntry({5.0f, 1.0f, 80.0f, 0.0f, 0.0f, 0});
  PresetCommandWords(0xABCD);
  ASSERT_EQ(Load(m), 1);

  const auto file = PushAtStart().at(1);
  EXPECT_EQ(static_cast<std::uint32_t>(LeI32(file, 0)), c.code);
  EXPECT_EQ(LeI32(file, 4), 0);
  EXPECT_EQ(LeI32(file, 8), 5678);
  EXPECT_EQ(InitialLines(file), c.initial);
  EXPECT_EQ(TimetableLines(file).size(), c.timetableLines);
  EXPECT_EQ(UnitList(file), c.units);
  EXPECT_EQ(LastCommandTo("0x0101"), c.pumpCommand);
}

// ---- The oven, and the autosampler's and UV detector's additions ----

TEST_F(PumpDownloadTest, OvenAutosamplerAndUvJoinTheFileInTheOrderOfTheirDownloads) {
  QuarnMethod m = MakeMethod(pumpSystemTernary, {1, 1, 1, 0});
  m.GetPumpInitialCons().OvenInUse() = 1;
  m.GetPumpInitialCons().OvenTemperature() = 39.6f;
  const std::size_t before = net.Calls().size();
  ASSERT_EQ(Load(m), 1);
  CQuarnAutoSampler sampler;
  CQuarnUVDetector uv;
  ASSERT_EQ(sampler.DownloadMethod(m), 1);
  ASSERT_EQ(uv.DownloadMethod(m), 1);

  // The oven hears first (target truncated), then the pump.
  EXPECT_EQ(HostCallsFrom(before),
            (std::vector<std::string>{"LC_UnitDirect(0x0601 0x0001 0x0027 0x0000 0x0000 0x0000 0x0000 0x0000 0x0000)",
                                      "LC_UnitDirect(0x0101 0x0300 0x03e8 0xffff 0x0190 0x0005 0x0064 0x0000 0x0000)",
                                      "LC_UnitDirect(0x0401 0x09ec 0x0001 0xffff 0x0003 0x0005 0x0064 0x0000 0x0000)"}));
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "QUARN900");

  const auto file = PushAtStart().at(1);
  EXPECT_EQ(UnitList(file), (std::vector<std::uint32_t>{0x0101, 0x0102, 0x0103, 0x0601, 0x0501, 0x0401}));
  const auto lines = InitialLines(file);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[8], InitialLine(0x0601, 4, 40));  // rounded in the file
  EXPECT_EQ(lines[9], InitialLine(0x0401, 7, 2540));
  EXPECT_EQ(lines[10], InitialLine(0x0401, 9, 1));

  // A method without the oven: no oven command, no make.
  QuarnMethod noOven = MakeMethod(pumpSystemTernary, {1, 1, 1, 0});
  const std::size_t again = net.Calls().size();
  ASSERT_EQ(Load(noOven), 1);
  EXPECT_EQ(HostCallsFrom(again).size(), 1u);
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "");
  EXPECT_EQ(UnitList(PushAtStart().at(1)), (std::vector<std::uint32_t>{0x0101, 0x0102, 0x0103}));
}

// ---- Composition: rounded shares in the file, truncated in the command ----

struct CompositionCase {
  const char* name;
  int inUseB, inUseC;
  float percentB, percentC;
  Line line;
  std::vector<std::uint32_t> words5to7;
};

void PrintTo(const CompositionCase& c, std::ostream* os) { *os << c.name; }

class CompositionTest : public PumpDownloadTest, public testing::WithParamInterface<CompositionCase> {};

INSTANTIATE_TEST_SUITE_P(
    Shares, CompositionTest,
    testing::Values(CompositionCase{"BRounded", 1, 0, 30.6f, 0.0f, InitialLine(0x0101, 1, 69, 31, 0), {69, 30, 0xEEEE}},
                    CompositionCase{"BNotInUse", 0, 0, 20.0f, 0.0f, InitialLine(0x0101, 1, 100, 0, 0),
                                    {100, 0xEEEE, 0xEEEE}},
                    CompositionCase{"BAndC", 1, 1, 30.6f, 10.5f, InitialLine(0x0101, 1, 58, 31, 11), {58, 30, 10}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(CompositionTest, LineAndCommandWords) {
  const CompositionCase& c = GetParam();
  QuarnMethod m = MakeMethod(pumpSystemTernary, {1, c.inUseB, c.inUseC, 0});
  m.GetPumpInitialCons().PercentB() = c.percentB;
  m.GetPumpInitialCons().PercentC() = c.percentC;
  PresetCommandWords(0xEEEE);
  ASSERT_EQ(Load(m), 1);
  EXPECT_EQ(InitialLines(PushAtStart().at(1)).at(3), c.line);
  const auto words = LastCommandTo("0x0101");
  ASSERT_EQ(words.size(), 8u);
  EXPECT_EQ(std::vector<std::uint32_t>(words.begin() + 5, words.end()), c.words5to7);
}

TEST_F(PumpDownloadTest, FlowIsTruncatedInTheFileAndRoundedInTheCommand) {
  for (auto [flow, line, word] : {std::tuple{0.0005f, 0, 1u}, std::tuple{0.0015f, 1, 2u}}) {
    QuarnMethod m = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
    m.GetPumpInitialCons().Flow() = flow;
    ASSERT_EQ(Load(m), 1);
    EXPECT_EQ(InitialLines(PushAtStart().at(1)).at(0), InitialLine(0x0101, 0, line)) << flow;
    EXPECT_EQ(LastCommandTo("0x0101").at(1), word) << flow;
  }
}

// ---- The gradient timetable ----

TEST_F(PumpDownloadTest, EachStepGivesFlowLimitAndCompositionLinesInTimeOrder) {
  QuarnMethod m = MakeMethod(pumpSystemBinary, {1, 1, 0, 0});
  PumpGradient& g = m.GetPumpGradient();
  g.AddEntry({1.5f, 1.25f, 40.0f, 0.0f, 0.0f, 0});
  g.AddEntry({0.0f, 1.0f, 10.0f, 0.0f, 0.0f, 0});
  g.AddEntry({1.5f, 2.0f, 60.0f, 0.0f, 0.0f, 350});  // same time: kept after the one above; own limit
  ASSERT_EQ(Load(m), 1);
  EXPECT_EQ(TimetableLines(PushAtStart().at(1)),
            (std::vector<Line>{{0x0101, 0, 0, 1000, 0, 0},
                               {0x0101, 0, 2, 400, 0, 0},
                               {0x0101, 0, 1, 90, 10, 0},
                               {0x0101, 90000, 0, 1250, 0, 0},
                               {0x0101, 90000, 2, 400, 0, 0},
                               {0x0101, 90000, 1, 60, 40, 0},
                               {0x0101, 90000, 0, 2000, 0, 0},
                               {0x0101, 90000, 2, 350, 0, 0},
                               {0x0101, 90000, 1, 40, 60, 0}}));
}

TEST_F(PumpDownloadTest, StopTimeOfZeroKeepsThePreviousOneExceptOnTheFirstLoad) {
  auto runTimeAfterLoading = [&](float stopTime) {
    QuarnMethod m = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
    m.GetPumpInitialCons().StopTime() = stopTime;
    EXPECT_EQ(Load(m), 1);
    return LeI32(PushAtStart().at(0), 16);
  };
  EXPECT_EQ(runTimeAfterLoading(0.0f), 0);
  EXPECT_EQ(runTimeAfterLoading(12.5f), 750);
  EXPECT_EQ(runTimeAfterLoading(0.0f), 750);
  EXPECT_EQ(runTimeAfterLoading(3.0f), 180);
}

// ---- What the direct network cannot carry is refused, and nothing changes ----

struct RefusalCase {
  const char* name;
  void (*spoil)(QuarnMethod&);
  std::string message;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public PumpDownloadTest, public testing::WithParamInterface<RefusalCase> {};

void AddSteps(QuarnMethod& m, int count) {
  for (int i = 0; i < count; ++i) m.GetPumpGradient().AddEntry({0.5f * static_cast<float>(i), 1.0f, 10.0f, 0, 0, 0});
}

INSTANTIATE_TEST_SUITE_P(
    Methods, RefusalTest,
    testing::Values(
        RefusalCase{"SolventDAtStart", [](QuarnMethod& m) { m.GetPumpInitialCons().PercentD() = 15.0f; },
                    "This method gives solvent D 15.0 % at the start of the run, but on the direct instrument "
                    "network the pump takes shares of solvents A, B and C only.\nGive that share to solvent A, B "
                    "or C and load the method again.\nThe method was not loaded."},
        RefusalCase{"SolventDInAStep",
                    [](QuarnMethod& m) {
                      AddSteps(m, 3);
                      m.GetPumpGradient().AddEntry({2.5f, 1.0f, 10.0f, 0.0f, 5.0f, 0});
                    },
                    "This method gives solvent D 5.0 % in the gradient step at 2.50 min, but on the direct "
                    "instrument network the pump takes shares of solvents A, B and C only.\nGive that share to "
                    "solvent A, B or C and load the method again.\nThe method was not loaded."},
        RefusalCase{"TwentyTwoSteps", [](QuarnMethod& m) { AddSteps(m, 22); },
                    "This method's gradient timetable has 22 steps, but the direct instrument network holds at "
                    "most 21.\nMerge or remove steps to leave 21 or fewer and load the method again; a shortened "
                    "gradient is not sent, since it would change the separation.\nThe method was not loaded."}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(RefusalTest, SaysWhyAndLeavesTheLoadedMethodWhole) {
  QuarnMethod loaded = MakeMethod(pumpSystemQuaternary, {1, 1, 1, 1});
  AddSteps(loaded, 4);
  ASSERT_EQ(Load(loaded), 1);
  const AnlsFile fileBefore = g_downloadRecords.m_anlsFile;
  const std::size_t before = net.Calls().size();

  QuarnMethod m = MakeMethod(pumpSystemQuaternary, {1, 1, 1, 1});
  m.GetPumpInitialCons().StopTime() = 20.0f;
  m.GetPumpInitialCons().OvenInUse() = 1;
  GetParam().spoil(m);
  EXPECT_EQ(pump.DownloadInitialConditions(m), 0);
  EXPECT_EQ(pump.DownloadTimetable(m), 0);

  ASSERT_EQ(ui.MessageBoxes().size(), 2u);
  EXPECT_EQ(ui.MessageBoxes()[0], "MessageBox 0x30: " + GetParam().message);
  EXPECT_TRUE(HostCallsFrom(before).empty());
  EXPECT_TRUE(std::equal(fileBefore.Data(), fileBefore.Data() + sizeof(AnlsFile), g_downloadRecords.m_anlsFile.Data()));
  EXPECT_EQ(LeI32(PushAtStart().at(0), 16), 600);  // the loaded method's stop time
}

TEST_F(PumpDownloadTest, TwentyOneStepsFillTheTimetableAndNoMoreAreAppended) {
  QuarnMethod m = MakeMethod(pumpSystemBinary, {1, 1, 0, 0});
  AddSteps(m, 21);
  ASSERT_EQ(Load(m), 1);
  EXPECT_EQ(TimetableLines(PushAtStart().at(1)).size(), 63u);

  // A timetable alone goes behind the lines loaded, if it fits.
  QuarnMethod more = MakeMethod(pumpSystemBinary, {1, 1, 0, 0});
  AddSteps(more, 1);
  EXPECT_EQ(pump.DownloadTimetable(more), 0);
  EXPECT_EQ(ui.MessageBoxes(),
            std::vector<std::string>{"MessageBox 0x30: This gradient timetable has 1 steps, but only 0 more fit "
                                     "behind the 63 timetable lines already loaded.\nLoad the whole method again, "
                                     "so that the analysis file starts afresh.\nThe gradient timetable was not "
                                     "loaded."});
  EXPECT_EQ(g_downloadRecords.m_anlsFile.Get<AnlsFile::TimetableCount>(), 63);

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
