// A clean world for one test: virtual time at 0, a private registry file
// in a fresh temporary folder, and a recording host-UI sink.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/recording_host_ui.h"

namespace testing_support {

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
