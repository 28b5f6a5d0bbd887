// Numbers as a user types them, and as a person reads them: what is read,
// and the exact message for what is refused, at the edges of each rule.
#include "host/text/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

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
  const auto read = [](const char* option, const char* text, const std::string& outcome) {
    EXPECT_EQ(ReadAs(option, text), outcome) << option << " '" << text << "'";
  };
  for (auto [text, value] : {std::pair{"1", "1"}, {"100", "100"}, {"+7", "7"}, {"010", "10"}, {"1e2", "100"},
                             {"5.0", "5"}}) {
    read("--vial", text, value);
  }
  for (auto [text, value] : {std::pair{"1000", "1000"}, {"0.001", "0.001"}, {"2.", "2"}, {".5", "0.5"},
                             {"25E-1", "2.5"}, {"+1", "1"}}) {
    read("--volume", text, value);
  }
  for (const char* text : {"0", "101", "1e3", "-1", "99999999999999999999"}) {
    read("--vial", text, "--vial: " + whole + ", found '" + text + "'");
  }
  for (const char* text : {"0", "1000.001"}) read("--volume", text, "--volume: " + decimal + ", found '" + text + "'");
  for (const char* text : {"", "+", "1,5", "4 "}) {
    read("--vial", text, "--vial: '" + std::string(text) + "' is not a number; " + whole);
  }
  for (const char* text : {"1e", "."}) {
    read("--volume", text, "--volume: '" + std::string(text) + "' is not a number; " + decimal);
  }
  read("--vial", "2.5", "--vial: '2.5' is not a whole number; " + whole);
  read("--vial", "0x10",
       "--vial: '0x10' is not a decimal number (numbers are read in decimal; 0x is not accepted); " + whole);
  read("--vial", "-Inf", "--vial: '-Inf' is not a number (nan and inf are never accepted); " + whole);
  read("--volume", "2\x01", "--volume: '2?' is not a number; " + decimal);
  read("--volume", "2,5", "--volume: '2,5' is not a number (write decimals with a point: 2.5); " + decimal);
  read("--volume", "nan", "--volume: 'nan' is not a number (nan and inf are never accepted); " + decimal);
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
  // Volumes keep what the value has, to the tenth of a nanolitre.
  EXPECT_EQ(host::VolumeText(5) + " " + host::VolumeText(0.001) + " " + host::VolumeText(0.0015) + " " +
                host::VolumeText(2.25) + " " + host::VolumeText(0.00001),
            "5.00 0.001 0.0015 2.25 0.0000");
}

// The fast writer gives the exact conversion's bytes: on values whose
// rounding sits on a half (2.5, 0.125, 1e15 - 0.5), negative ones that round
// to zero, the edges of its integer path, and 200 000 values of every
// size from a fixed sequence.
TEST(NumberTextTest, WriteFixedWritesWhatToCharsWrites) {
  const auto check = [](double value, int decimals) {
    char fast[400], exact[400];
    const std::string a(fast, host::WriteFixed(fast, fast + sizeof fast, value, decimals));
    const std::string b(exact, std::to_chars(exact, exact + sizeof exact, value, std::chars_format::fixed, decimals).ptr);
    return a == b ? std::string() : std::to_string(decimals) + ": " + a + " != " + b + "\n";
  };
  std::string wrong;
  const double kEdges[] = {0.0, -0.0, 2.5, -2.5, 0.125, 0.375, 1.0005, 0.05, -0.04, 1e15 - 0.5, 1e15, 9.999999999e14,
                           123456789.125, 0.1, 1e-300, NAN, INFINITY, -INFINITY, 4503599627370495.5};
  for (const double v : kEdges) {
    for (int decimals = 0; decimals <= 12; ++decimals) wrong += check(v, decimals);
  }
  std::uint64_t state = 42;
  for (int i = 0; i < 200000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    const double mantissa = static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
    const double value = std::ldexp(mantissa, static_cast<int>((state >> 3) % 80) - 40);
    wrong += check(value, static_cast<int>(state % 10));
    // Decimal ties at the chosen precision, as readings on a 0.05 grid make.
    wrong += check(std::round(mantissa * 2e4) / 1e4 + 0.00005, 4);
  }
  EXPECT_EQ(wrong.substr(0, 2000), "");
}

}  // namespace
