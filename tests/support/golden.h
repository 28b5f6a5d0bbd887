// Comparing what a user or a unit sees with a golden file kept beside the
// tests, byte for byte. QUARN_UPDATE_GOLDEN=1 in the environment writes the
// file anew from what the test produced: read its diff before committing.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace testing_support {

// `relativePath` is relative to the source tree's tests/ folder.
inline void ExpectMatchesGolden(const std::string& actual, const std::string& relativePath) {
  const std::string path = std::string(QUARN_SOURCE_DIR) + "/tests/" + relativePath;
  if (std::getenv("QUARN_UPDATE_GOLDEN")) std::ofstream(path, std::ios::binary) << actual;
  std::ifstream golden(path, std::ios::binary);
  ASSERT_TRUE(golden) << "no golden file " << path;
  std::string expected(std::istreambuf_iterator<char>(golden), std::istreambuf_iterator<char>{});
  std::erase(expected, '\r');  // a checkout with CRLF line ends
  EXPECT_EQ(actual, expected) << "differs from " << path;
}

}  // namespace testing_support
