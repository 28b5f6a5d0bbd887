#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/inlet/inlet.h"

namespace {

// Each case runs with the methods folder set, then restores the variable.
class MethodNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("QUARN_METHODS_DIR")) m_old = old;
    setenv("QUARN_METHODS_DIR", "/lab/methods", 1);
  }
  void TearDown() override {
    if (m_old) {
      setenv("QUARN_METHODS_DIR", m_old->c_str(), 1);
    } else {
      unsetenv("QUARN_METHODS_DIR");
    }
  }

  static std::string Completed(const char* type, const char* name) {
    CString text(name);
    AddMethodFileExtension(type, text);
    return text.str();
  }

 private:
  std::optional<std::string> m_old;
};

TEST_F(MethodNameTest, BareNamesGetTheTypeExtensionInTheMethodsFolder) {
  EXPECT_EQ(Completed("Quarn900", "Caffeine"), "/lab/methods/Caffeine.quarn900.toml");
  EXPECT_EQ(Completed("Quarn900", ""), "/lab/methods/.quarn900.toml");
}

TEST_F(MethodNameTest, NamesEndingInTomlAreCompleteFileNames) {
  EXPECT_EQ(Completed("Quarn900", "Caffeine.quarn900.toml"), "/lab/methods/Caffeine.quarn900.toml");
  EXPECT_EQ(Completed("Quarn900", "mine.TOML"), "/lab/methods/mine.TOML");
}

TEST_F(MethodNameTest, NamesWithAFolderAreUsedAsGiven) {
  EXPECT_EQ(Completed("Quarn900", "examples/pah"), "examples/pah.quarn900.toml");
  EXPECT_EQ(Completed("Quarn900", "/tmp/x.quarn900.toml"), "/tmp/x.quarn900.toml");
  EXPECT_EQ(Completed("Quarn900", "sub\\pah"), "sub\\pah.quarn900.toml");
}

TEST_F(MethodNameTest, WithoutTheVariableTheWorkingFolderHoldsTheMethods) {
  unsetenv("QUARN_METHODS_DIR");
  setenv("QUARN_WORKING_DIR", "/data/korvatec", 1);
  EXPECT_EQ(GetMethodsDir(), "/data/korvatec/methods");
  EXPECT_EQ(Completed("Quarn900", "m1"), "/data/korvatec/methods/m1.quarn900.toml");
  unsetenv("QUARN_WORKING_DIR");
}

}  // namespace
