#include "platform/mfc/cstring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CStringTest, NullPointerMakesAnEmptyString) {
  const CString s(static_cast<const char*>(nullptr));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_STREQ(s, "");
}

TEST(CStringTest, KeepsWindows1252BytesUnchanged) {
  const CString s("\xB5l \xB0" "C");
  ASSERT_EQ(s.GetLength(), 5);
  EXPECT_EQ(static_cast<unsigned char>(s.GetAt(0)), 0xB5);
  EXPECT_EQ(static_cast<unsigned char>(s.GetAt(3)), 0xB0);
}

TEST(CStringTest, FormatReplacesAndHandlesLongOutput) {
  CString s("old");
  s.Format("%d-%s-%.2f", 7, "x", 12.5);
  EXPECT_EQ(s, "7-x-12.50");
  s.Format("%s", std::string(1000, 'z').c_str());
  EXPECT_EQ(s.GetLength(), 1000);
  s.AppendFormat("%c", '!');
  EXPECT_EQ(s.GetLength(), 1001);
}

TEST(CStringTest, ComparisonIsCaseSensitiveAndBytewise) {
  EXPECT_EQ(CString("PUMP"), CString("PUMP"));
  EXPECT_FALSE(CString("PUMP") == "pump");
  EXPECT_LT(CString("A"), CString("B"));
  EXPECT_EQ(CString("a").Compare("b"), -1);
  EXPECT_EQ(CString("").Compare(nullptr), 0);
}

TEST(CStringTest, SubstringsClampInsteadOfOverrunning) {
  const CString s("Quarn900");
  EXPECT_EQ(s.Left(5), "Quarn");
  EXPECT_EQ(s.Left(99), "Quarn900");
  EXPECT_EQ(s.Mid(5), "900");
  EXPECT_EQ(s.Mid(7, 10), "0");
  EXPECT_EQ(s.Mid(-3, 2), "Qu");
  EXPECT_EQ(s.Right(3), "900");
  EXPECT_EQ(s.Find('9'), 5);
  EXPECT_EQ(s.Find("900", 6), -1);
  EXPECT_EQ(s.Find('x', 100), -1);
}

TEST(CStringTest, ConcatenationAndTrimming) {
  CString s = CString("  a") + "b" + 'c' + CString("d  ");
  s.Trim();
  EXPECT_EQ(s, "abcd");
  EXPECT_EQ("x" + CString("y"), "xy");
}

}  // namespace
