// Tray files: what a user writes, read or refused naming the line.
#include "host/inputs/tray.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(TrayTest, DescriptionsAndVialsAreReadAndARowMayNameItsOwn) {
  const host::Tray tray = host::ParseTray(
      "[sample.std]\ncaffeine = 50\nuracil = 2.5\n[sample.\"blank.1\"]\n[tray]\n1 = \"std\"\n3 = \"blank.1\"\n", "t.toml");
  ASSERT_TRUE(tray.problems.empty()) << tray.problems.front();
  ASSERT_NE(tray.For(1), nullptr);
  EXPECT_EQ(tray.For(1)->compounds, (std::vector<std::pair<std::string, double>>{{"caffeine", 50.0}, {"uracil", 2.5}}));
  EXPECT_TRUE(tray.For(3)->compounds.empty()) << "a blank";
  EXPECT_EQ(tray.For(2), nullptr);
  EXPECT_EQ(tray.For(2, "std"), tray.For(1));
  EXPECT_EQ(tray.For(1, "other"), nullptr);
}

class TrayProblemTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(TrayProblemTest, IsReportedWithItsLine) {
  const host::Tray tray = host::ParseTray(GetParam().first, "t.toml");
  ASSERT_EQ(tray.problems.size(), 1u) << GetParam().first;
  EXPECT_EQ(tray.problems[0], GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Trays, TrayProblemTest,
    ::testing::Values(
        std::pair{"[sample.a]\ncaffeine = \"50\"\n", "t.toml: line 2: sample.a.caffeine: a concentration in mg/l is a number"},
        std::pair{"[sample.a]\ncaffeine = -1\n",
                  "t.toml: line 2: sample.a.caffeine: -1.000000 mg/l is out of range (more than 0, at most 1000000)"},
        std::pair{"[sample.a-0.5]\ncaffeine = 1\n",
                  "t.toml: line 1: sample.a-0.5 is a table, not a concentration: a name with a dot in it is written in "
                  "quotes ([sample.\"name.1\"])"},
        std::pair{"[sample.a]\n[tray]\n0 = \"a\"\n", "t.toml: line 3: tray.0: a vial is a number from 1 to 999"},
        std::pair{"[tray]\n1 = \"a\"\n", "t.toml: line 2: tray.1: there is no sample description \"a\" ([sample.a])"},
        std::pair{"[sample.a]\n[tray]\n1 = 2\n", "t.toml: line 3: tray.1: a vial holds a sample description, named in quotes"},
        std::pair{"[vials]\n1 = \"a\"\n", "t.toml: line 1: unknown key 'vials': a tray file holds [sample.NAME] and [tray] tables"},
        std::pair{"[sample.a\n", "t.toml: line 1: not valid TOML in a [table] header: expected ']', found the end of the line"}));

}  // namespace
