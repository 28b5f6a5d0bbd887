#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/inlet/inlet.h"
#include "tests/support/test_world.h"

namespace {

// Each case runs with the methods folder set, then restores the variable.
class MethodNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("QUARN_METHODS_DIR")) m_old = old;
    testing_support::SetEnv("QUARN_METHODS_DIR", "/lab/methods");
  }
  void TearDown() override {
    if (m_old) {
      testing_support::SetEnv("QUARN_METHODS_DIR", *m_old);
    } else {
      testing_support::UnsetEnv("QUARN_METHODS_DIR");
    }
  }

  static std::string Completed(const char* type, const char* name) {
    CString text(name);
    AddMethodFileExtension(type, text);
    return text.str();
  }
  // A file in a folder, with the system's separator between them.
  static std::string In(const char* folder, const char* file) {
    return (std::filesystem::path(folder) / file).string();
  }

 private:
  std::optional<std::string> m_old;
};

TEST_F(MethodNameTest, BareNamesGetTheTypeExtensionInTheMethodsFolder) {
  EXPECT_EQ(Completed("Quarn900", "Caffeine"), In("/lab/methods", "Caffeine.quarn900.toml"));
  EXPECT_EQ(Completed("Quarn900", ""), In("/lab/methods", ".quarn900.toml"));
}

TEST_F(MethodNameTest, NamesEndingInTomlAreCompleteFileNames) {
  EXPECT_EQ(Completed("Quarn900", "Caffeine.quarn900.toml"), In("/lab/methods", "Caffeine.quarn900.toml"));
  EXPECT_EQ(Completed("Quarn900", "mine.TOML"), In("/lab/methods", "mine.TOML"));
}

TEST_F(MethodNameTest, NamesWithAFolderAreUsedAsGiven) {
  EXPECT_EQ(Completed("Quarn900", "examples/pah"), "examples/pah.quarn900.toml");
  EXPECT_EQ(Completed("Quarn900", "/tmp/x.quarn900.toml"), "/tmp/x.quarn900.toml");
  EXPECT_EQ(Completed("Quarn900", "sub\\pah"), "sub\\pah.quarn900.toml");
}

TEST_F(MethodNameTest, WithoutTheVariableTheWorkingFolderHoldsTheMethods) {
  testing_support::UnsetEnv("QUARN_METHODS_DIR");
  testing_support::SetEnv("QUARN_WORKING_DIR", "/data/korvatec");
  EXPECT_EQ(GetMethodsDir().str(), In("/data/korvatec", "methods"));
  EXPECT_EQ(Completed("Quarn900", "m1"), In(In("/data/korvatec", "methods").c_str(), "m1.quarn900.toml"));
  testing_support::UnsetEnv("QUARN_WORKING_DIR");
}

}  // namespace
