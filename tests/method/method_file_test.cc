#include "platform/method/method_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/inlet/text.h"
#include "tests/support/golden.h"
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
  for (const auto& p : problems) lines.push_back(platform::Utf8FromWindows1252(DescribeMethodFileProblem(p)));
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

struct MethodFileCase {
  std::string name;
  std::string text;
  std::string firstProblem;  // as the user reads it
};
void PrintTo(const MethodFileCase& c, std::ostream* os) { *os << c.name; }

class BrokenMethodTest : public ::testing::TestWithParam<MethodFileCase> {};

TEST_P(BrokenMethodTest, IsRefusedWithItsLineKeyAndExpectation) {
  const auto problems = ProblemsOf(GetParam().text);
  ASSERT_FALSE(problems.empty());
  EXPECT_EQ(problems[0], GetParam().firstProblem);
}

const std::string kBase = Minimal();
const std::string kBinary =
    "[pump]\nsystem = \"binary\"\nflow = 1.0\nmax_pressure = 400\nstop_time = 10\n";  // percent_b on line 6
const std::string kQuaternary = "[pump]\nsystem = \"quaternary\"\nflow = 1.0\nmax_pressure = 400\nstop_time = 10\n";

// The cases written as a user writes them, in a text file beside this test.
std::vector<MethodFileCase> CasesFromFile(const std::string& name) {
  std::ifstream in(std::string(QUARN_SOURCE_DIR) + "/tests/method/" + name);
  EXPECT_TRUE(in) << name;
  const std::map<std::string, std::string> shorthands = {
      {"@minimal", Minimal()}, {"@binary", kBinary}, {"@quaternary", kQuaternary}};
  std::vector<MethodFileCase> cases;
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

INSTANTIATE_TEST_SUITE_P(Files, BrokenMethodTest, ::testing::ValuesIn(CasesFromFile("broken-methods.txt")),
                         [](const auto& param_info) { return param_info.param.name; });

// The cases whose bytes a text file would not show.
INSTANTIATE_TEST_SUITE_P(
    Bytes, BrokenMethodTest,
    ::testing::Values(
        MethodFileCase{"NonUtf8Comment", kBase + "# caf\xe9\n",
                   "line 5, column 5: not valid TOML: bytes that are not UTF-8 text (save the file as UTF-8)"},
        MethodFileCase{"NulByte", std::string("[pump]\nflow = 1.0\0\n", 18),
                   "line 2, column 11: not valid TOML in a number: expected a digit, found '\\u0000'"},
        MethodFileCase{"DeepNesting", "x = " + std::string(2000, '[') + std::string(2000, ']') + "\n",
                   "line 1, column 261: not valid TOML in a value: arrays or tables nested more than 256 deep"},
        // Regression: a non-ASCII character where whitespace may stand took
        // the TOML parser's character tables into undefined behaviour.
        MethodFileCase{"AccentedKey", kBase + "temp\xc3\xa9rature = 40\n",
                   "line 5, column 5: not valid TOML in a key = value line: expected '=', found '\u00e9'"},
        MethodFileCase{"AccentAfterValue", kBase + "min_pressure = 5 \xc2\xb5\n",
                   "line 5, column 18: not valid TOML in a key = value line: expected a comment or whitespace, "
                   "found '\u00b5'"},
        MethodFileCase{"TooManySteps",
                   [] {
                     std::string text = Minimal() + "timetable = [\n";
                     for (int i = 0; i < 101; ++i) text += "{ time = 0 },\n";
                     return text + "]\n";
                   }(),
                   "line 5, key 'pump.timetable': expected at most 100 gradient steps, found 101"},
        MethodFileCase{"TitleTooLong", kBase + "[method]\ntitle = \"" + std::string(201, 't') + "\"\n",
                   "line 6, key 'method.title': expected text (the method's title) of at most 200 characters, "
                   "found 201"},
        MethodFileCase{"FileTooLarge", kBase + "# " + std::string(kMaxMethodFileBytes, 'x') + "\n",
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

// Regression: the list was the first 100 problems found, section by
// section ([pump] before [uv]), and the count of the rest was off by one.
TEST(MethodFileTest, AFileFullOfMistakesListsTheFirstHundredInLineOrderAndCountsTheRest) {
  std::string text = "[uv]\n";
  for (int i = 0; i < 60; ++i) text += "uv" + std::to_string(i) + " = 1\n";  // lines 2 to 61
  text += Minimal();
  for (int i = 0; i < 90; ++i) text += "bad" + std::to_string(i) + " = 1\n";
  QuarnMethod method;
  MethodFileProblems problems;
  EXPECT_FALSE(ParseMethodText(text, method, problems));
  ASSERT_EQ(problems.size(), kMaxCollectedProblems + 1);
  EXPECT_EQ(std::tie(problems[59].line, problems[60].key, problems[99].key), std::tuple(61, "pump.bad0", "pump.bad39"));
  EXPECT_EQ(problems.back().unlisted, 50u);
  EXPECT_EQ(DescribeMethodFileProblem(problems.back()), "50 more problems are not listed; correct these and check "
                                                        "the file again");
  const std::string shown = DescribeMethodFileProblems("m", problems).str();  // ten problems, then the rest
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 2 + 10 + 1);
  EXPECT_TRUE(shown.ends_with("\n... and 140 more problems")) << shown;
  EXPECT_TRUE(DescribeMethodFileProblems("m", MethodFileProblems(11)).str().ends_with("\n... and 1 more problem"));
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

// Good files, as a user writes them in good-methods.txt, read as the
// reports of the units each case names show them: every setting read, every
// default and every in-use channel appears there.
TEST(MethodFileTest, GoodFilesReadAsTheirReportsShow) {
  std::string reports;
  for (const MethodFileCase& c : CasesFromFile("good-methods.txt")) {
    reports += "== " + c.name + "\n";
    const QuarnMethod m = Parsed(c.text);
    std::istringstream units(c.name.substr(c.name.find(':') + 1));
    for (std::string unit; units >> unit;) {
      CGenericExpRecord record;
      m.Print(&record, unit.c_str());
      reports += record.Text();
    }
  }
  testing_support::ExpectMatchesGolden(reports, "method/golden/good-method-reports.txt");
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
    if (entry.path().filename().string().ends_with(".quarn900.toml")) names.push_back(entry.path().filename().string());
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
  int withEvents = 0, withOven = 0;
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
