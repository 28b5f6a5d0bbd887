// A clean world for one test: virtual time at 0, a private registry file
// in a fresh temporary folder, and a recording host-UI sink.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/recording_host_ui.h"

namespace testing_support {

// Sets or removes an environment variable of this process (the system's
// own calls differ between POSIX systems and Windows).
void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

class TestWorld : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The temporary folder of this test, removed afterwards.
  const std::filesystem::path& TempDir() const { return m_tempDir; }
  const std::filesystem::path& RegistryFile() const { return m_registryFile; }

  RecordingHostUi ui;

 private:
  std::filesystem::path m_tempDir;
  std::filesystem::path m_registryFile;
};

}  // namespace testing_support
