// Numbers as a user types them, and as a person reads them: what is read,
// and the exact message for what is refused, at the edges of each rule.
#include "host/number_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using host::ReadDecimalNumber;
using host::ReadWholeNumber;

// The value read ("%g") or the whole message.
template <class Read>
std::string Outcome(const Read& read) {
  if (!read.value) return read.error;
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(*read.value));
  return read.error.empty() ? text : "both a value and an error";
}

// --vial takes a whole number from 1 to 100, --volume a decimal above 0 and
// at most 1000.
std::string ReadAs(const std::string& option, const char* text) {
  return option == "--vial" ? Outcome(ReadWholeNumber(text, option, 1, 100))
                            : Outcome(ReadDecimalNumber(text, option, 0.0, 1000.0, true));
}

TEST(NumberTextTest, ReadsWhatIsMeantAndSaysWhyNot) {
  const std::string whole = "expected a whole number from 1 to 100";
  const std::string decimal = "expected a number above 0 and at most 1000";
  const struct {
    std::string option;
    const char* text;
    std::string outcome;
  } cases[] = {
      {"--vial", "1", "1"}, {"--vial", "100", "100"}, {"--vial", "+7", "7"}, {"--vial", "010", "10"},
      {"--vial", "1e2", "100"}, {"--vial", "5.0", "5"},
      {"--vial", "0", "--vial: " + whole + ", found '0'"},
      {"--vial", "101", "--vial: " + whole + ", found '101'"},
      {"--vial", "1e3", "--vial: " + whole + ", found '1e3'"},
      {"--vial", "-1", "--vial: " + whole + ", found '-1'"},
      {"--vial", "99999999999999999999", "--vial: " + whole + ", found '99999999999999999999'"},
      {"--vial", "2.5", "--vial: '2.5' is not a whole number; " + whole},
      {"--vial", "", "--vial: '' is not a number; " + whole},
      {"--vial", "+", "--vial: '+' is not a number; " + whole},
      {"--vial", "1,5", "--vial: '1,5' is not a number; " + whole},
      {"--vial", "4 ", "--vial: '4 ' is not a number; " + whole},
      {"--vial", "0x10",
       "--vial: '0x10' is not a decimal number (numbers are read in decimal; 0x is not accepted); " + whole},
      {"--vial", "-Inf", "--vial: '-Inf' is not a number (nan and inf are never accepted); " + whole},
      {"--volume", "1000", "1000"}, {"--volume", "0.001", "0.001"}, {"--volume", "2.", "2"}, {"--volume", ".5", "0.5"},
      {"--volume", "25E-1", "2.5"}, {"--volume", "+1", "1"},
      {"--volume", "0", "--volume: " + decimal + ", found '0'"},
      {"--volume", "1000.001", "--volume: " + decimal + ", found '1000.001'"},
      {"--volume", "1e", "--volume: '1e' is not a number; " + decimal},
      {"--volume", ".", "--volume: '.' is not a number; " + decimal},
      {"--volume", "2\x01", "--volume: '2?' is not a number; " + decimal},
      {"--volume", "2,5", "--volume: '2,5' is not a number (write decimals with a point: 2.5); " + decimal},
      {"--volume", "nan", "--volume: 'nan' is not a number (nan and inf are never accepted); " + decimal},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadAs(c.option, c.text), c.outcome) << c.option << " '" << c.text << "'";
  // An inclusive lower bound; a long text shown cut.
  EXPECT_EQ(Outcome(ReadDecimalNumber("0", "x", 0.0, 1.5, false)), "0");
  EXPECT_EQ(Outcome(ReadDecimalNumber("-0.5", "x", 0.0, 1.5, false)),
            "x: expected a number from 0 to 1.5, found '-0.5'");
  const std::string longText(41, '7');
  EXPECT_EQ(ReadWholeNumber(longText, "n", 0, 9).why, "'" + longText.substr(1) + "...' is out of range");
  EXPECT_EQ(ReadWholeNumber(longText.substr(1), "n", 0, 9).why, "'" + longText.substr(1) + "' is out of range");
}

TEST(NumberTextTest, FixedRoundsAndNeverWritesMinusZero) {
  EXPECT_EQ(host::Fixed(12.345, 1) + " " + host::Fixed(-0.04, 1) + " " + host::Fixed(-0.05001, 1) + " " +
                host::Fixed(2.5, 0) + " " + host::Fixed(-3, 2),
            "12.3 0.0 -0.1 2 -3.00");
}

}  // namespace
