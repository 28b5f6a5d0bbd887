#include "tests/support/test_world.h"

#include <random>
#include <string>

#include "platform/clock/clock.h"
#include "platform/win/registry.h"

namespace testing_support {

void TestWorld::SetUp() {
  platform::Clock::Get().ResetForTesting();
  std::random_device rd;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  m_tempDir = std::filesystem::temp_directory_path() /
              ("quarn-test-" + std::string(info ? info->name() : "x") + "-" + std::to_string(rd()));
  std::filesystem::create_directories(m_tempDir);
  m_registryFile = m_tempDir / "registry.reg";
  platform::Registry::UseFileForTesting(m_registryFile);
}

void TestWorld::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(m_tempDir, ec);
}

void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char* name) {
#if defined(_WIN32)
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

}  // namespace testing_support
