// Comparing what a user or a unit sees with a golden file kept beside the
// tests, byte for byte but for one thing: a line repeated N times in a row
// is kept once, followed by " (xN)" (a retry loop is one line, its count a
// number to read). QUARN_UPDATE_GOLDEN=1 in the environment writes the
// file anew from what the test produced: read its diff before committing.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace testing_support {

inline std::string CollapseRepeatedLines(std::string_view text) {
  std::string collapsed;
  while (!text.empty()) {
    const std::size_t length = std::min(text.find('\n'), text.size() - 1) + 1;  // the line and its end
    const std::string_view line = text.substr(0, length);
    std::size_t count = 1;
    while (line.size() > 1 && text.substr(count * length, length) == line) ++count;
    collapsed += count == 1 ? std::string(line)
                            : std::string(line.substr(0, length - 1)) + " (x" + std::to_string(count) + ")\n";
    text.remove_prefix(count * length);
  }
  return collapsed;
}

// `relativePath` is relative to the source tree's tests/ folder.
inline void ExpectMatchesGolden(const std::string& produced, const std::string& relativePath) {
  const std::string actual = CollapseRepeatedLines(produced);
  const std::string path = std::string(QUARN_SOURCE_DIR) + "/tests/" + relativePath;
  if (std::getenv("QUARN_UPDATE_GOLDEN")) std::ofstream(path, std::ios::binary) << actual;
  std::ifstream golden(path, std::ios::binary);
  ASSERT_TRUE(golden) << "no golden file " << path;
  std::string expected(std::istreambuf_iterator<char>(golden), std::istreambuf_iterator<char>{});
  std::erase(expected, '\r');  // a checkout with CRLF line ends
  EXPECT_EQ(actual, expected) << "differs from " << path;
}

}  // namespace testing_support
