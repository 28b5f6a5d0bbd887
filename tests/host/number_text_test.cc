// Numbers as a user types them: what is read, and the exact message for
// what is refused, at the edges of each rule.
#include "host/number_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using host::ReadDecimalNumber;
using host::ReadWholeNumber;

struct Case {
  const char* text;
  double value;       // when `error` is empty
  const char* error;  // the whole message; empty when read
};

// --vial, a whole number from 1 to 100, and --volume, a decimal above 0
// and at most 1000.
class NumberTextTest : public testing::TestWithParam<Case> {
 protected:
  static void Check(std::optional<double> value, const std::string& error) {
    const Case& c = GetParam();
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(value, *c.error ? std::nullopt : std::optional<double>(c.value));
  }
};
using WholeNumberTest = NumberTextTest;
using DecimalNumberTest = NumberTextTest;

TEST_P(WholeNumberTest, ReadsOrSaysWhy) {
  const auto read = ReadWholeNumber(GetParam().text, "--vial", 1, 100);
  Check(read.value ? std::optional<double>(static_cast<double>(*read.value)) : std::nullopt, read.error);
}

TEST_P(DecimalNumberTest, ReadsOrSaysWhy) {
  const auto read = ReadDecimalNumber(GetParam().text, "--volume", 0.0, 1000.0, true);
  Check(read.value, read.error);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, WholeNumberTest,
    testing::Values(Case{"1", 1, ""}, Case{"100", 100, ""}, Case{"+7", 7, ""}, Case{"010", 10, ""},
                    Case{"1e2", 100, ""}, Case{"5.0", 5, ""},
                    Case{"0", 0, "--vial: expected a whole number from 1 to 100, found '0'"},
                    Case{"101", 0, "--vial: expected a whole number from 1 to 100, found '101'"},
                    Case{"1e3", 0, "--vial: expected a whole number from 1 to 100, found '1e3'"},
                    Case{"-1", 0, "--vial: expected a whole number from 1 to 100, found '-1'"},
                    Case{"99999999999999999999", 0,
                         "--vial: expected a whole number from 1 to 100, found '99999999999999999999'"},
                    Case{"2.5", 0, "--vial: '2.5' is not a whole number; expected a whole number from 1 to 100"},
                    Case{"", 0, "--vial: '' is not a number; expected a whole number from 1 to 100"},
                    Case{"+", 0, "--vial: '+' is not a number; expected a whole number from 1 to 100"},
                    Case{"1,5", 0, "--vial: '1,5' is not a number; expected a whole number from 1 to 100"},
                    Case{"0x10", 0,
                         "--vial: '0x10' is not a decimal number (numbers are read in decimal; 0x is not accepted); "
                         "expected a whole number from 1 to 100"},
                    Case{"-Inf", 0,
                         "--vial: '-Inf' is not a number (nan and inf are never accepted); expected a whole number "
                         "from 1 to 100"},
                    Case{"4 ", 0, "--vial: '4 ' is not a number; expected a whole number from 1 to 100"}));

INSTANTIATE_TEST_SUITE_P(
    Edges, DecimalNumberTest,
    testing::Values(Case{"1000", 1000, ""}, Case{"0.001", 0.001, ""}, Case{"2.5", 2.5, ""}, Case{"2.", 2, ""},
                    Case{".5", 0.5, ""}, Case{"1e3", 1000, ""}, Case{"25E-1", 2.5, ""}, Case{"+1", 1, ""},
                    Case{"0", 0, "--volume: expected a number above 0 and at most 1000, found '0'"},
                    Case{"1000.001", 0, "--volume: expected a number above 0 and at most 1000, found '1000.001'"},
                    Case{"1e", 0, "--volume: '1e' is not a number; expected a number above 0 and at most 1000"},
                    Case{".", 0, "--volume: '.' is not a number; expected a number above 0 and at most 1000"},
                    Case{"2,5", 0,
                         "--volume: '2,5' is not a number (write decimals with a point: 2.5); expected a number "
                         "above 0 and at most 1000"},
                    Case{"nan", 0,
                         "--volume: 'nan' is not a number (nan and inf are never accepted); expected a number above "
                         "0 and at most 1000"},
                    Case{"2\x01", 0,
                         "--volume: '2?' is not a number; expected a number above 0 and at most 1000"}));

TEST(NumberTextTest, AnInclusiveLowerBoundAndALongTextShownShort) {
  EXPECT_EQ(ReadDecimalNumber("0", "x", 0.0, 1.5, false).value, 0.0);
  EXPECT_EQ(ReadDecimalNumber("-0.5", "x", 0.0, 1.5, false).error, "x: expected a number from 0 to 1.5, found '-0.5'");
  const std::string longText(41, '7');
  EXPECT_EQ(ReadWholeNumber(longText, "n", 0, 9).why, "'" + std::string(40, '7') + "...' is out of range");
  EXPECT_EQ(ReadWholeNumber(std::string(40, '7'), "n", 0, 9).why, "'" + std::string(40, '7') + "' is out of range");
}

}  // namespace
