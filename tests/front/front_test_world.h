// A clean world for front tests: TestWorld, plus the fake back-end maker
// installed, the host UI and the clock writing into the timeline, and a methods folder
// holding "M1" (a readable method, stop time 12.5 min) and "Broken" (flow
// -1).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/front/fake_backends.h"
#include "tests/support/method_files.h"
#include "tests/support/test_world.h"

namespace front_testing {

class FrontTest : public testing_support::TestWorld {
 protected:
  void SetUp() override {
    TestWorld::SetUp();
    ui.CopyLinesTo(&timeline);
    platform::Clock::Get().AddDriver(&timelineClock);
    SetBackendMakerForTesting(&maker);
    m_methodsDir = TempDir() / "methods";
    testing_support::SetEnv("QUARN_METHODS_DIR", m_methodsDir.string());
    WriteMethod("M1", "[method]\ntitle = \"Test method M1\"\n[pump]\nflow = 1.0\nmax_pressure = 400\nstop_time = 12.5\n"
                      "[autosampler]\nvial = 4\ninjection_volume = 10\n");
    WriteMethod("Broken", "[pump]\nflow = -1\nmax_pressure = 400\nstop_time = 10\n");
  }
  void TearDown() override {
    SetBackendMakerForTesting(nullptr);
    platform::Clock::Get().RemoveDriver(&timelineClock);
    testing_support::UnsetEnv("QUARN_METHODS_DIR");
    TestWorld::TearDown();
  }

  void WriteMethod(const std::string& name, const std::string& text) {
    testing_support::WriteTextFile(MethodPath(name), text);
  }
  std::string MethodPath(const std::string& name) const { return (m_methodsDir / (name + ".quarn900.toml")).string(); }
  // The message box a read of "Broken" shows.
  std::string BrokenMessage() const {
    return "MessageBox 0x30: The method file could not be read:\n" + MethodPath("Broken") +
           "\n\nline 2, key 'pump.flow': expected a flow from 0 to 10 ml/min, found -1";
  }
  // The report `unit` of method M1, as the method library prints it.
  std::string ReportOfM1(const char* unit) const {
    QuarnMethod method;
    method.GetMethodFromDiskFile(MethodPath("M1").c_str());
    CGenericExpRecord record;
    method.Print(&record, unit);
    return record.Text();
  }

  Timeline timeline;
  FakeMaker maker{timeline};
  TimelineClock timelineClock{timeline};

 private:
  std::filesystem::path m_methodsDir;
};

}  // namespace front_testing
