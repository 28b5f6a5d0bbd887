// Faults on demand through the host program: the list, the option's
// errors, and what a run hit by a fault reports on each transport.
#include <gtest/gtest.h>

#include <sstream>
#include <regex>
#include <string>

#include "host/harness/faults.h"
#include "tests/host/host_program.h"

namespace {

using testing_support::HostProgramTest;
using testing_support::Result;
using HostFaultTest = HostProgramTest;

TEST_F(HostFaultTest, ListNamesEveryFaultAndIsTheListOfTheDocs) {
  const Result r = Run("run --fault list");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, host::FaultListText());
  for (const host::FaultKind& kind : host::FaultCatalogue()) {
    const std::string start = "\n" + host::FaultSyntax(kind) + " ";
    const std::size_t at = r.out.find(start);
    ASSERT_NE(at, std::string::npos) << kind.name;
    EXPECT_EQ(r.out.substr(at + 44, host::FaultTransports(kind).size()), host::FaultTransports(kind)) << kind.name;
    const host::FaultRead example = host::ReadFault(kind.example);
    EXPECT_TRUE(example.fault && example.fault->kind == &kind) << kind.example << ": " << example.error;
  }
  const host::FaultRead call = host::ReadFault("server-call:Session.Open=0x8000fFfF@1.5");
  ASSERT_TRUE(call.fault) << call.error;
  EXPECT_EQ(call.fault->operation, "Session.Open");
  EXPECT_EQ(call.fault->result, 0x8000FFFFu);
  EXPECT_EQ(call.fault->minutes, 1.5);
  EXPECT_NE(Read(std::string(QUARN_SOURCE_DIR) + "/docs/faults.md").find(r.out), std::string::npos)
      << "docs/faults.md holds the list as the program prints it";
}

TEST_F(HostFaultTest, BadFaultsExitTwoNamingWhatIsWrong) {
  const std::string m = Example("caffeine-isocratic.quarn900.toml");
  for (const auto& [args, says] : std::initializer_list<std::pair<std::string, std::string>>{
           {"--fault pump-overheat", "--fault 'pump-overheat': unknown fault 'pump-overheat'"},
           {"--fault unit-absent", "missing parameter; expected unit-absent:UNIT"},
           {"--fault unit-absent:lamp", "unknown unit 'lamp'; expected pump, uv, autosampler or oven"},
           {"--fault driver-missing:pump", "driver-missing takes no parameter"},
           {"--fault driver-missing@5", "acts when the instruments are opened; give it without @MINUTES"},
           {"--fault pump-overpressure@-1", "MINUTES: "},
           {"--fault node-state:3", "'3' is not a node state that needs a reset; expected 7, 8 or 9"},
           {"--fault server-call:StartRun", "'StartRun' is not OPERATION=RESULT"},
           {"--fault server-call:9Session.Open=0x1", "'9Session.Open=0x1' is not OPERATION=RESULT"},
           {"--fault server-call:Session.StartRun=80004005", "'80004005' is not a result code"},
           {"--fault server-call:Session.StartRun=1x80004005", "'1x80004005' is not a result code"},
           {"--fault server-call:Session.StartRun=0x180004005", "'0x180004005' is not a result code"},
           {"--transport server --fault driver-missing",
            "the fault driver-missing exists on the direct transport only, and this run uses the server transport"},
           {"--transport direct --fault error-event@3",
            "the fault error-event exists on the server transport only, and this run uses the direct transport"}}) {
    const Result r = Run("run " + m + " --virtual-time " + args);
    EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.out;
    EXPECT_NE(r.out.find("quarn-host: error: "), std::string::npos) << args;
    EXPECT_NE(r.out.find(says), std::string::npos) << args << "\n" << r.out;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "runs")) << args << ": nothing ran";
  }
}

// Each fault's run: the exit code and the record's last line.
TEST_F(HostFaultTest, ARunHitByAFaultNeverReportsSuccess) {
  for (const auto& [args, exitCode, result] : std::initializer_list<std::tuple<std::string, int, std::string>>{
           {"direct --fault driver-missing", 1,
            "failed at 0.0 of 8.0 min: communications failed: Unable to open the Quarn driver; injected fault: "
            "driver-missing"},
           {"direct --fault pump-overpressure@5", 1,
            "ended at 4.9 of 8.0 min: flow dropped to 0; injected fault: pump-overpressure@5"},
           {"direct --fault trouble-event@3", 1,
            "completed, 8.0 of 8.0 min, but hit by the injected fault trouble-event@3: not a valid run"},
           {"direct --fault pump-overpressure@30", 0, "completed, 8.0 of 8.0 min"},
           {"server --fault error-event@8.12", 0, "completed, 8.0 of 8.0 min"},  // while closing
           {"server --fault error-event@3", 1,
            "failed at 2.9 of 8.0 min: the instruments reported: External Input #1 error; injected fault: error-event@3"},
           // A lost server is the cause of whatever fails after it.
           {"server --fault server-exit@3", 1,
            "failed at 2.9 of 8.0 min: the instrument server was lost: the simulated server stopped answering; "
            "injected fault: server-exit@3"},
           {"server --fault server-exit", 1,
            "failed at 0.0 of 8.0 min: the instrument server was lost: the simulated server stopped answering; "
            "injected fault: server-exit"},
           {"server --fault unit-never-connects:pump", 1,
            "failed at 0.0 of 8.0 min: communications failed: Pump unit not detected; injected fault: "
            "unit-never-connects:pump"},
           {"server --fault server-call:Session.StartRun=0x80004005 --fault pump-overpressure@5", 1,
            "failed at 0.0 of 8.0 min: the autosampler did not start the sample; injected fault: "
            "server-call:Session.StartRun=0x80004005"}}) {
    const Result r = Run("run " + Example("caffeine-isocratic.quarn900.toml") + " --virtual-time --force --out out "
                         "--transport " + args);
    EXPECT_EQ(r.exitCode, exitCode) << args << "\n" << r.out;
    const std::string record = Read(m_dir / "out" / "experiment-record.txt");
    EXPECT_NE(record.find("\nRun result: " + result + "\n"), std::string::npos) << args << "\n" << record;
  }
}

// A pressure the server could not read is no reading: its cell is empty
// in every row, the flow is still shown.
TEST_F(HostFaultTest, AFailedReadingIsNotAZero) {
  const Result r = Run("run " + Example("caffeine-isocratic.quarn900.toml") + " --virtual-time --out out "
                       "--transport server --fault server-call:Pump.GetPressure=0x80004005");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  std::istringstream csv(Read(m_dir / "out" / "status.csv"));
  std::string line;
  int rows = 0;
  for (std::getline(csv, line); std::getline(csv, line); ++rows) {
    EXPECT_TRUE(std::regex_search(line, std::regex("^(?:[^,]*,){7}[01]\\.\\d{3},,"))) << line;  // a flow, no pressure
  }
  EXPECT_GT(rows, 400);
}

}  // namespace
