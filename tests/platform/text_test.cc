// The text encodings at their edges, byte for byte.
#include "platform/inlet/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/com.h"

namespace {

// Each row: bytes, and what DecodeUtf8 reads from them one step at a time
// (-1: not UTF-8, one byte passed).
struct DecodeCase {
  std::string bytes;
  std::vector<long> read;
};

TEST(TextTest, DecodesOnlyWellFormedUtf8) {
  const DecodeCase cases[] = {
      {"\x7F", {0x7F}}, {"\xC2\x80", {0x80}}, {"\xDF\xBF", {0x7FF}}, {"\xE0\xA0\x80", {0x800}},
      {"\xEF\xBF\xBF", {0xFFFF}}, {"\xF0\x90\x80\x80", {0x10000}}, {"\xF4\x8F\xBF\xBF", {0x10FFFF}},
      {"\x80", {-1}},                          // a stray continuation byte
      {"\xC0\x80", {-1, -1}},                  // overlong NUL
      {"\xC1\xBF", {-1, -1}},                  // overlong
      {"\xE0\x9F\xBF", {-1, -1, -1}},          // overlong three bytes
      {"\xF0\x8F\xBF\xBF", {-1, -1, -1, -1}},  // overlong four bytes
      {"\xED\xA0\x80", {-1, -1, -1}},          // a surrogate
      {"\xF4\x90\x80\x80", {-1, -1, -1, -1}},  // above U+10FFFF
      {"\xF5\x80", {-1, -1}},
      {"\xE2\x82", {-1, -1}},                  // cut short
      {"\xE2\x28\xA1", {-1, '(', -1}},         // a continuation missing
  };
  for (const DecodeCase& c : cases) {
    std::vector<long> read;
    for (std::size_t at = 0; at < c.bytes.size();) {
      const auto cp = platform::DecodeUtf8(c.bytes, at);
      read.push_back(cp ? static_cast<long>(*cp) : -1);
    }
    EXPECT_EQ(read, c.read) << testing::PrintToString(c.bytes);
    std::string again;  // a well-formed character is written back as it was
    if (c.read[0] >= 0) platform::AppendUtf8(again, static_cast<char32_t>(c.read[0]));
    if (c.read.size() == 1 && c.read[0] >= 0) {
      EXPECT_EQ(again, c.bytes);
    }
    EXPECT_EQ(platform::IsUtf8(c.bytes), c.read.size() == 1 && c.read[0] >= 0);
  }
}

TEST(TextTest, Windows1252BothWaysAtTheEdgesOfItsHighBlock) {
  EXPECT_EQ(platform::Utf8FromWindows1252("\x7F\x80\x81\x9F\xA0\xFF"), "\x7F\u20AC\uFFFD\u0178\u00A0\u00FF");
  bool lossless = false;
  EXPECT_EQ(platform::Windows1252FromUtf8("\x7F\u20AC\u0178\u00A0\u00FF caf\u00e9", &lossless),
            "\x7F\x80\x9F\xA0\xFF caf\xE9");
  EXPECT_TRUE(lossless);
  // No place: a C1 control, U+FFFD itself, a snowman, a character beyond
  // 16 bits, and bytes that are not UTF-8.
  EXPECT_EQ(platform::Windows1252FromUtf8("\u0081\uFFFD\u2603\U0001F600\xC3", &lossless), "?????");
  EXPECT_FALSE(lossless);
  for (int byte = 0; byte < 256; ++byte) {
    const std::string single(1, static_cast<char>(byte));
    const bool defined = byte != 0x81 && byte != 0x8D && byte != 0x8F && byte != 0x90 && byte != 0x9D;
    EXPECT_EQ(platform::Windows1252FromUtf8(platform::Utf8FromWindows1252(single)), defined ? single : "?") << byte;
  }
}

TEST(TextTest, SixteenBitTextKeepsEveryCharacter) {
  const std::string text = "A\u00e9\u20AC\U0001F600";
  const platform::com::OleString wide = platform::com::FromUtf8(text);
  EXPECT_EQ(wide.size(), 5u);  // one surrogate pair
  EXPECT_EQ(platform::com::ToUtf8(wide.c_str()), text);
  EXPECT_EQ(platform::com::ToUtf8(platform::com::FromUtf8("a\xFF").c_str()), "a\uFFFD");
}

}  // namespace
