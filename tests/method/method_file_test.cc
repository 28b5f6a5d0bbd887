#include "platform/method/method_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/method_files.h"
#include "tests/support/test_world.h"

namespace {

using testing_support::kMinimalMethod;
using testing_support::WriteTextFile;

std::string Minimal() { return std::string(kMinimalMethod); }

// The lines of all problems found in `text`; empty when it parses.
std::vector<std::string> ProblemsOf(const std::string& text) {
  QuarnMethod method;
  MethodFileProblems problems;
  const bool ok = ParseMethodText(text, method, problems);
  std::vector<std::string> lines;
  for (const auto& p : problems) lines.push_back(DescribeMethodFileProblem(p));
  EXPECT_EQ(ok, lines.empty());
  return lines;
}

QuarnMethod Parsed(const std::string& text) {
  QuarnMethod method;
  MethodFileProblems problems;
  EXPECT_TRUE(ParseMethodText(text, method, problems)) << (problems.empty() ? "" : problems[0].text);
  return method;
}

// ------------------------------------------------------------ broken files

struct BrokenCase {
  std::string name;
  std::string text;
  std::string firstProblem;  // as the user reads it
};
void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.name; }

class BrokenMethodTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenMethodTest, IsRefusedWithItsLineKeyAndExpectation) {
  const auto problems = ProblemsOf(GetParam().text);
  ASSERT_FALSE(problems.empty());
  EXPECT_EQ(problems[0], GetParam().firstProblem);
}

const std::string kBase = Minimal();
const std::string kBinary =
    "[pump]\nsystem = \"binary\"\nflow = 1.0\nmax_pressure = 400\nstop_time = 10\n";  // percent_b on line 6
const std::string kQuaternary = "[pump]\nsystem = \"quaternary\"\nflow = 1.0\nmax_pressure = 400\nstop_time = 10\n";

// The cases written as a user writes them, in broken-methods.txt.
std::vector<BrokenCase> CasesFromFile() {
  std::ifstream in(std::string(QUARN_SOURCE_DIR) + "/tests/method/broken-methods.txt");
  EXPECT_TRUE(in) << "broken-methods.txt";
  const std::map<std::string, std::string> shorthands = {
      {"@minimal", Minimal()}, {"@binary", kBinary}, {"@quaternary", kQuaternary}};
  std::vector<BrokenCase> cases;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("== ")) {
      cases.push_back({line.substr(3), "", ""});
    } else if (cases.empty() || line.starts_with("#") || !cases.back().firstProblem.empty()) {
      continue;  // comments and the blank lines between cases
    } else if (line.starts_with("=> ")) {
      cases.back().firstProblem = line.substr(3);
    } else {
      const auto shorthand = shorthands.find(line);
      cases.back().text += shorthand != shorthands.end() ? shorthand->second : line + "\n";
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenMethodTest, ::testing::ValuesIn(CasesFromFile()),
                         [](const auto& param_info) { return param_info.param.name; });

// The cases whose bytes a text file would not show.
INSTANTIATE_TEST_SUITE_P(
    Bytes, BrokenMethodTest,
    ::testing::Values(
        BrokenCase{"NonUtf8Comment", kBase + "# caf\xe9\n",
                   "line 5, column 5: not a valid TOML file: Encountered invalid utf-8 sequence"},
        BrokenCase{"NulByte", std::string("[pump]\nflow = 1.0\0\n", 18),
                   "line 2, column 11: not a valid TOML file: Error while parsing floating-point: expected decimal "
                   "digit, saw '\\u0000'"},
        BrokenCase{"DeepNesting", "x = " + std::string(2000, '[') + std::string(2000, ']') + "\n",
                   "line 1, column 261: not a valid TOML file: Error while parsing value: exceeded maximum nested "
                   "value depth of 256 (TOML_MAX_NESTED_VALUES)"},
        // Regression: a non-ASCII character where whitespace may stand took
        // the TOML parser's character tables into undefined behaviour.
        BrokenCase{"AccentedKey", kBase + "temp\xc3\xa9rature = 40\n",
                   "line 5, column 5: not a valid TOML file: Error while parsing key-value pair: expected '=', saw "
                   "'\xe9'"},
        BrokenCase{"AccentAfterValue", kBase + "min_pressure = 5 \xc2\xb5\n",
                   "line 5, column 18: not a valid TOML file: Error while parsing key-value pair: expected a "
                   "comment or whitespace, saw '\xb5'"},
        BrokenCase{"TooManySteps",
                   [] {
                     std::string text = Minimal() + "timetable = [\n";
                     for (int i = 0; i < 101; ++i) text += "{ time = 0 },\n";
                     return text + "]\n";
                   }(),
                   "line 5, key 'pump.timetable': expected at most 100 gradient steps, found 101"},
        BrokenCase{"TitleTooLong", kBase + "[method]\ntitle = \"" + std::string(201, 't') + "\"\n",
                   "line 6, key 'method.title': expected text (the method's title) of at most 200 characters, "
                   "found 201"},
        BrokenCase{"FileTooLarge", kBase + "# " + std::string(kMaxMethodFileBytes, 'x') + "\n",
                   "expected a method file of at most 1048576 bytes, found 1048631"}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(MethodFileTest, EveryProblemIsListedInLineOrder) {
  const auto problems = ProblemsOf(
      "[uv]\nwavelength = 1\n[pump]\nflow = -1\nmax_pressure = 0\nstop_time = 10\nbogus = 1\n");
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "line 2, key 'uv.wavelength': expected a wavelength from 190 to 900 nm, found 1",
                          "line 4, key 'pump.flow': expected a flow from 0 to 10 ml/min, found -1",
                          "line 5, key 'pump.max_pressure': expected an upper pressure limit from 1 to 1000 bar, "
                          "found 0",
                          "line 7, key 'pump.bogus': unknown key; expected one of: system, flow, max_pressure, "
                          "min_pressure, stop_time, percent_b, percent_c, percent_d, timetable",
                      }));
}

TEST(MethodFileTest, AFileFullOfMistakesStopsAtTheCollectionLimit) {
  std::string text = Minimal();
  for (int i = 0; i < 500; ++i) text += "bad" + std::to_string(i) + " = 1\n";
  QuarnMethod method;
  MethodFileProblems problems;
  EXPECT_FALSE(ParseMethodText(text, method, problems));
  ASSERT_EQ(problems.size(), kMaxCollectedProblems + 1);
  EXPECT_TRUE(std::is_sorted(problems.begin(), problems.end() - 1,
                             [](const auto& a, const auto& b) { return a.line < b.line; }));
  EXPECT_EQ(problems.back().text.rfind("checking stopped after 100 problems", 0), 0u) << problems.back().text;
}

TEST(MethodFileTest, AFailedParseLeavesTheMethodAsItWas) {
  QuarnMethod method = Parsed(Minimal() + "[autosampler]\nvial = 7\n");
  const QuarnMethod before = method;
  MethodFileProblems problems;
  EXPECT_FALSE(ParseMethodText(Minimal() + "[autosampler]\nvial = 8\n[uv]\nwavelength = 1\n", method, problems));
  EXPECT_EQ(method, before);
  EXPECT_EQ(method.GetSamplerInitialCons().VialNumber(), 7);
}

// ------------------------------------------------------------ good files

TEST(MethodFileTest, MinimalMethodTakesTheDocumentedDefaults) {
  const QuarnMethod m = Parsed(Minimal());
  const PumpInitialCons& pump = m.GetPumpInitialCons();
  EXPECT_EQ(pump.PumpSystem(), pumpSystemIsocratic);
  EXPECT_FLOAT_EQ(pump.Flow(), 1.0f);
  EXPECT_EQ(pump.MaxPressure(), 400);
  EXPECT_EQ(pump.MinPressure(), 0);
  EXPECT_FLOAT_EQ(pump.StopTime(), 10.0f);
  EXPECT_EQ(pump.OvenInUse(), 0);
  EXPECT_EQ(m.GetSolventSelection().InUse(0), 1);
  EXPECT_EQ(m.GetSolventSelection().InUse(1), 0);
  EXPECT_EQ(m.GetPumpGradient().GetCount(), 0);
  EXPECT_EQ(m.GetEventTable().GetCount(), 0);
  for (int type = 0; type < kEventTypeCount; ++type) {
    EXPECT_EQ(m.GetInitialEventStates().State(static_cast<EventType>(type)), actionOff);
  }
  EXPECT_EQ(m.GetSamplerInitialCons().VialNumber(), 1);
  EXPECT_FLOAT_EQ(m.GetSamplerInitialCons().InjectionVolume(), 1.0f);
  EXPECT_FLOAT_EQ(m.GetSamplerInitialCons().AnalysisTime(), 10.0f) << "the stop time";
  EXPECT_EQ(m.GetSamplerInitialCons().Flushes(), 1);
  EXPECT_EQ(m.GetUVDetectorCons().Wavelength(), 254);
  EXPECT_EQ(m.GetUVDetectorCons().Response(), uvResponseStandard);
  EXPECT_EQ(m.GetUVDetectorCons().ZeroSetting(), 0);
}

struct SystemCase {
  const char* word;
  int setting;
  std::vector<int> inUse;
};

class PumpSystemTest : public ::testing::TestWithParam<SystemCase> {};

TEST_P(PumpSystemTest, SystemWordSetsTheSettingAndTheDefaultChannels) {
  const QuarnMethod m = Parsed("[pump]\nsystem = \"" + std::string(GetParam().word) +
                               "\"\nflow = 1\nmax_pressure = 400\nstop_time = 10\n");
  EXPECT_EQ(m.GetPumpInitialCons().PumpSystem(), GetParam().setting);
  std::vector<int> inUse;
  for (int c = 0; c < 4; ++c) inUse.push_back(m.GetSolventSelection().InUse(c));
  EXPECT_EQ(inUse, GetParam().inUse);
}

INSTANTIATE_TEST_SUITE_P(Systems, PumpSystemTest,
                         ::testing::Values(SystemCase{"isocratic", 0, {1, 0, 0, 0}}, SystemCase{"binary", 1, {1, 1, 0, 0}},
                                           SystemCase{"quaternary", 2, {1, 1, 1, 1}},
                                           SystemCase{"ternary", 3, {1, 1, 1, 0}}),
                         [](const auto& param_info) { return std::string(param_info.param.word); });

TEST(MethodFileTest, NamedSolventsAreTheOnlyOnesInUse) {
  const QuarnMethod m = Parsed(kQuaternary + "[solvents]\na = \"Water\"\nd = \"Buffer\"\n");
  EXPECT_EQ(m.GetSolventSelection().InUse(0), 1);
  EXPECT_EQ(m.GetSolventSelection().InUse(1), 0);
  EXPECT_EQ(m.GetSolventSelection().InUse(2), 0);
  EXPECT_EQ(m.GetSolventSelection().InUse(3), 1);
  EXPECT_EQ(m.GetSolventSelection().Name(3), "Buffer");
}

TEST(MethodFileTest, StepsKeepTheValuesOfTheStepBefore) {
  const QuarnMethod m = Parsed(
      "[pump]\nsystem = \"ternary\"\nflow = 0.5\nmax_pressure = 300\nstop_time = 20\npercent_b = 10\n"
      "timetable = [\n"
      "  { time = 0 },\n"
      "  { time = 5, percent_b = 40, percent_c = 20, flow = 0.8, max_pressure = 350 },\n"
      "  { time = 10, percent_c = 0 },\n"
      "]\n");
  const PumpGradient& g = m.GetPumpGradient();
  ASSERT_EQ(g.GetCount(), 3);
  EXPECT_EQ(*g.TableEntry(0), GradTimeTableEntry(0.0f, 0.5f, 10.0f, 0.0f, 0.0f, 300)) << "from the start";
  EXPECT_EQ(*g.TableEntry(1), GradTimeTableEntry(5.0f, 0.8f, 40.0f, 20.0f, 0.0f, 350));
  EXPECT_EQ(*g.TableEntry(2), GradTimeTableEntry(10.0f, 0.8f, 40.0f, 0.0f, 0.0f, 350));
}

TEST(MethodFileTest, StepsAtEqualTimesAreKeptInFileOrder) {
  const QuarnMethod m =
      Parsed(kBinary + "timetable = [{ time = 2, percent_b = 10 }, { time = 2, percent_b = 90 }]\n");
  ASSERT_EQ(m.GetPumpGradient().GetCount(), 2);
  EXPECT_FLOAT_EQ(m.GetPumpGradient().TableEntry(0)->PercentB(), 10.0f);
  EXPECT_FLOAT_EQ(m.GetPumpGradient().TableEntry(1)->PercentB(), 90.0f);
}

TEST(MethodFileTest, SharesAddingUpToHundredWithRoundingAreAccepted) {
  const QuarnMethod m = Parsed(kQuaternary + "percent_b = 33.3\npercent_c = 33.3\npercent_d = 33.4\n");
  EXPECT_FLOAT_EQ(m.GetPumpInitialCons().PercentD(), 33.4f);
}

TEST(MethodFileTest, TimedEventsBecomeOneRowPerSwitchingOutputsBeforeValves) {
  const QuarnMethod m = Parsed(kBase +
                               "[events.initial]\nevent3 = \"on\"\nvalve2 = 4\n"
                               "[[events.timed]]\ntime = 1.5\nvalve1 = 2\nevent2 = \"pulse\"\n"
                               "[[events.timed]]\ntime = 3\nevent1 = \"off\"\n");
  const InitialEventStates& initial = m.GetInitialEventStates();
  EXPECT_EQ(initial.State(eventOutput3), actionOn);
  EXPECT_EQ(initial.State(eventValve2), actionPosition4);
  EXPECT_EQ(initial.State(eventOutput1), actionOff);
  const CEventTable& events = m.GetEventTable();
  ASSERT_EQ(events.GetCount(), 3);
  CExternalEvent e;
  ASSERT_TRUE(events.GetTableEntry(0, e));
  EXPECT_EQ(e, CExternalEvent(1.5f, eventOutput2, actionPulse));
  ASSERT_TRUE(events.GetTableEntry(1, e));
  EXPECT_EQ(e, CExternalEvent(1.5f, eventValve1, actionPosition2));
  ASSERT_TRUE(events.GetTableEntry(2, e));
  EXPECT_EQ(e, CExternalEvent(3.0f, eventOutput1, actionOff));
  EXPECT_EQ(events.FindTableEntry(1.5f, eventValve1), 1);
  EXPECT_EQ(events.FindTableEntry(3.0f, eventValve1), -1);
}

TEST(MethodFileTest, OvenTableMeansInUseUnlessSaidOtherwise) {
  EXPECT_EQ(Parsed(kBase + "[oven]\ntemperature = 40\n").GetPumpInitialCons().OvenInUse(), 1);
  const QuarnMethod off = Parsed(kBase + "[oven]\nin_use = false\n");
  EXPECT_EQ(off.GetPumpInitialCons().OvenInUse(), 0);
  EXPECT_FLOAT_EQ(Parsed(kBase + "[oven]\ntemperature = 42.5\n").GetPumpInitialCons().OvenTemperature(), 42.5f);
}

TEST(MethodFileTest, SamplerAndDetectorSettingsAreRead) {
  const QuarnMethod m = Parsed(kBase +
                               "[autosampler]\nvial = 10000\ninjection_volume = 2.5\nanalysis_time = 12\nflushes = 0\n"
                               "[uv]\nwavelength = 214\nresponse = \"slow\"\nautozero = true\n");
  EXPECT_EQ(m.GetSamplerInitialCons().VialNumber(), 10000);
  EXPECT_FLOAT_EQ(m.GetSamplerInitialCons().InjectionVolume(), 2.5f);
  EXPECT_FLOAT_EQ(m.GetSamplerInitialCons().TimeSetting(), 12.0f);
  EXPECT_EQ(m.GetSamplerInitialCons().CountSetting(), 0);
  EXPECT_EQ(m.GetUVDetectorCons().Wavelength(), 214);
  EXPECT_EQ(m.GetUVDetectorCons().Response(), uvResponseSlow);
  EXPECT_EQ(m.GetUVDetectorCons().ZeroSetting(), 1);
}

TEST(MethodFileTest, TextsAreKeptAsSingleByteText) {
  const QuarnMethod m = Parsed(kBase + "[method]\ntitle = \"5 \xc2\xb5l at 40 \xc2\xb0" "C \xe2\x82\xac \xe2\x98\x83\"\n"
                                       "description = \"line one\\nline two\"\n");
  EXPECT_EQ(m.Title(), "5 \xb5l at 40 \xb0" "C \x80 ?") << "a snowman has no single-byte form";
  EXPECT_EQ(m.Description(), "line one\nline two");
}

// Regression: after a line-ending backslash the parser skips whitespace;
// a non-ASCII first character took it into undefined behaviour.
TEST(MethodFileTest, TextContinuedAfterALineEndingBackslashMayStartWithAnyCharacter) {
  const QuarnMethod m = Parsed(kBase + "[method]\ndescription = \"\"\"\\\n  \xc2\xb5g per vial\"\"\"\n");
  EXPECT_EQ(m.Description(), "\xb5g per vial");
}

TEST(Utf8ToWindows1252Test, BrokenSequencesBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToWindows1252("a\xc3"), "a?");
  EXPECT_EQ(Utf8ToWindows1252("\xff\xfe"), "??");
  EXPECT_EQ(Utf8ToWindows1252("\xe2\x80\x9c" "x" "\xe2\x80\x9d"), "\x93x\x94");
}

// ---------------------------------------------------------- files on disk

class MethodDiskFileTest : public testing_support::TestWorld {};

TEST_F(MethodDiskFileTest, MissingFileIsShownAndLeavesTheMethodAsConstructed) {
  QuarnMethod method;
  const std::string path = (TempDir() / "nothing.quarn900.toml").string();
  EXPECT_EQ(method.GetMethodFromDiskFile(path.c_str()), 0);
  EXPECT_EQ(method, QuarnMethod());
  EXPECT_EQ(ui.Lines(), (std::vector<std::string>{"MessageBox 0x30: The method file could not be read:\n" + path +
                                                  "\n\nthe file does not exist"}));
}

TEST_F(MethodDiskFileTest, BrokenFileMessageNamesFileLineKeyAndExpectation) {
  const auto path = TempDir() / "broken.quarn900.toml";
  WriteTextFile(path, "[pump]\nflow = -0.5\nmax_pressure = 400\nstop_time = 10\n");
  QuarnMethod method;
  EXPECT_EQ(method.GetMethodFromDiskFile(path.string().c_str()), 0);
  EXPECT_EQ(ui.MessageBoxes(),
            (std::vector<std::string>{"MessageBox 0x30: The method file could not be read:\n" + path.string() +
                                      "\n\nline 2, key 'pump.flow': expected a flow from 0 to 10 ml/min, found -0.5"}));
}

TEST_F(MethodDiskFileTest, FolderAndOversizedFileAreRefusedBeforeParsing) {
  QuarnMethod method;
  MethodFileProblems problems;
  EXPECT_FALSE(LoadMethodFile(TempDir().string(), method, problems));
  const auto big = TempDir() / "big.quarn900.toml";
  WriteTextFile(big, Minimal() + "#" + std::string(kMaxMethodFileBytes, ' ') + "\n");
  EXPECT_FALSE(LoadMethodFile(big.string(), method, problems));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].text, "this is a folder, not a method file");
  EXPECT_EQ(problems[1].text, "expected a method file of at most 1048576 bytes; this one is larger");
}

TEST_F(MethodDiskFileTest, LongListsOfProblemsAreCutInTheMessage) {
  const auto path = TempDir() / "many.quarn900.toml";
  std::string text = Minimal();
  for (int i = 0; i < 13; ++i) text += "x" + std::to_string(i) + " = 1\n";
  WriteTextFile(path, text);
  QuarnMethod method;
  EXPECT_EQ(method.GetMethodFromDiskFile(path.string().c_str()), 0);
  ASSERT_EQ(ui.MessageBoxes().size(), 1u);
  const std::string box = ui.MessageBoxes()[0];
  EXPECT_NE(box.find("line 14, key 'pump.x9'"), std::string::npos);
  EXPECT_EQ(box.find("pump.x10'"), std::string::npos);
  EXPECT_EQ(box.substr(box.size() - 24), "\n... and 3 more problems");
}

TEST_F(MethodDiskFileTest, SuccessfulReadRemembersTheFileAndShowsNothing) {
  const auto path = TempDir() / "ok.quarn900.toml";
  WriteTextFile(path, Minimal());
  QuarnMethod method;
  EXPECT_EQ(method.GetMethodFromDiskFile(path.string().c_str()), 1);
  EXPECT_EQ(method.GetFileName(), path.string().c_str());
  EXPECT_TRUE(ui.Lines().empty());
}

// ---------------------------------------------------------------- examples

class ExampleMethodTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ExampleMethodTest, LoadsAndReportsEveryUnit) {
  QuarnMethod method;
  MethodFileProblems problems;
  const std::string path = std::string(QUARN_EXAMPLES_DIR) + "/" + GetParam();
  ASSERT_TRUE(LoadMethodFile(path, method, problems)) << DescribeMethodFileProblems(path.c_str(), problems).str();
  EXPECT_FALSE(method.Title().IsEmpty());
  EXPECT_GT(method.GetRunLength(), 0.0);
  for (const char* unit : {"PUMP", "AUTOSAMPLER", "UVDETECTOR"}) {
    CGenericExpRecord record;
    method.Print(&record, unit);
    EXPECT_NE(record.Text().find(method.Title().str()), std::string::npos) << unit;
  }
}

std::vector<std::string> ExampleFiles() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(QUARN_EXAMPLES_DIR)) {
    if (entry.path().extension() == ".toml") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleMethodTest, ::testing::ValuesIn(ExampleFiles()), [](const auto& param_info) {
  std::string name;
  for (char c : param_info.param.substr(0, param_info.param.find('.'))) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

TEST(ExampleMethodTest, AtLeastFiveExamplesCoverTheFourPumpSystems) {
  std::set<int> systems;
  int withEvents = 0;
  int withOven = 0;
  for (const std::string& file : ExampleFiles()) {
    QuarnMethod method;
    MethodFileProblems problems;
    ASSERT_TRUE(LoadMethodFile(std::string(QUARN_EXAMPLES_DIR) + "/" + file, method, problems)) << file;
    systems.insert(method.GetPumpInitialCons().PumpSystem());
    withEvents += method.GetEventTable().GetCount() > 0 ? 1 : 0;
    withOven += method.GetPumpInitialCons().OvenInUse();
  }
  EXPECT_GE(ExampleFiles().size(), 5u);
  EXPECT_EQ(systems.size(), 4u);
  EXPECT_GE(withEvents, 1);
  EXPECT_GE(withOven, 1);
}

TEST(ExampleMethodTest, TheMethodsShownInTheDocumentationAreValid) {
  std::ifstream in(std::string(QUARN_DOCS_DIR) + "/method-files.md");
  const std::string doc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int blocks = 0;
  for (size_t start = doc.find("```toml\n"); start != std::string::npos; start = doc.find("```toml\n", start)) {
    start += 8;
    const size_t stop = doc.find("```", start);
    ASSERT_NE(stop, std::string::npos);
    EXPECT_EQ(ProblemsOf(doc.substr(start, stop - start)), std::vector<std::string>{}) << "block " << blocks;
    ++blocks;
  }
  EXPECT_GE(blocks, 1);
}

}  // namespace
