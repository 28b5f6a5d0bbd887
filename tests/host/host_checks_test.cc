// What the host program does with hostile input: command lines, settings
// files, settings written by several processes at once, and methods the
// direct transport would not run as written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "host/outputs/run_log.h"
#include "host/text/display_text.h"
#include "tests/host/host_program.h"
#include "tests/support/golden.h"

namespace {

namespace fs = std::filesystem;

const std::string kCaffeine = std::string(QUARN_SOURCE_DIR) + "/examples/caffeine-isocratic.quarn900.toml";
const std::string kTooLong(300, 'a');
// An aqueous buffer, a label the simulator does not know and a channel
// that --solvent names.
const char* const kSolventsMethod =
    "[pump]\nsystem = \"ternary\"\nflow = 1\nmax_pressure = 400\nstop_time = 3\npercent_b = 30\n"
    "[solvents]\na = \"20 mM KH2PO4 pH 2.5\"\nb = \"Hexane\"\nc = \"x\"\n";

class HostChecksTest : public testing_support::HostProgramTest {
 protected:
  void SetUp() override {
    HostProgramTest::SetUp();
    fs::create_symlink("loop-b", m_dir / "loop-a");
    fs::create_symlink("loop-a", m_dir / "loop-b");
    std::ofstream(m_dir / "utf8.toml") << "[method]\ntitle = \"Café 5 µl\"\n[pump]\nflow = 1\nmax_pressure = 400\n"
                                           "stop_time = 10\n";
    std::ofstream(m_dir / "short.toml") << "[pump]\nflow = 1\nmax_pressure = 400\nstop_time = 0.001\n"
                                           "[autosampler]\ninjection_volume = 0.0004\n";
    fs::create_symlink("nowhere.toml", m_dir / "gone.toml");
    std::ofstream(m_dir / "e\x1B[2Jx\nnl.toml") << "[pump]\nflow = 1\nmax_pressure = 400\nstop_time = 0.1\n";
    fs::create_directories(m_dir / "runs");
    fs::create_directories(m_dir / "busy" / "status.svg");
    fs::copy_file(kCaffeine, m_dir / (std::string(245, 'a') + ".toml"));
    fs::create_directories(m_dir / "methods");
    fs::copy_file(m_dir / "utf8.toml", m_dir / "methods" / "utf8.toml");
    std::ofstream(m_dir / "a-file") << "x";
  }
};

struct CommandCase {
  std::string args;
  int exitCode;
  std::string text;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.args.substr(0, 60); }

class HostileCommandLineTest : public HostChecksTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(HostileCommandLineTest, GetsAClearAnswer) {
  const auto [code, out] = Run(GetParam().args);
  EXPECT_EQ(code, GetParam().exitCode) << out;
  EXPECT_NE(out.find(GetParam().text), std::string::npos) << out;
  EXPECT_EQ(out.find(": Success"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1B'), std::string::npos) << "names cannot drive the terminal";
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileCommandLineTest,
    ::testing::Values(
        CommandCase{"run '" + kCaffeine + "' --vial 010 --virtual-time", 0, "Injecting 10.00 µl from vial 10;"},
        CommandCase{"run m --speed 1e+3", 1, "unknown method 'm'"},
        CommandCase{"run m --vial abc", 2, "--vial: 'abc' is not a number; expected a whole number from 1 to 10000"},
        CommandCase{"run m --vial 10001", 2, "--vial: expected a whole number from 1 to 10000, found '10001'"},
        CommandCase{"run m --volume -1", 2, "--volume: expected a number above 0 and at most 1000, found '-1'"},
        CommandCase{"run m --speed 0", 2, "--speed: expected a number from 1 to 10000, found '0'"},
        CommandCase{"run m --quiet --json", 2, "error: --quiet and --json cannot be used together\n"},
        CommandCase{"run", 2, "error: METHOD is required\nRun 'quarn-host run --help' for usage."},
        CommandCase{"run m --vial 1e3", 1, "unknown method 'm'"},  // 1000
        CommandCase{"run m --vial", 2, "error: --vial needs a value\n"},
        CommandCase{"sequence list.csv x --check", 2, "error: unknown option --check\nRun 'quarn-host --help' (or"},
        CommandCase{"config", 2, "error: a command is required: run, sequence, method check, method show, config get"},
        CommandCase{"run m --out my runs", 2, "error: unexpected runs (each option takes one value; quote a value"},
        CommandCase{"run m --transport Server", 2, "--transport: 'Server' is not known; expected direct or server"},
        CommandCase{"--version", 0, "quarn-host (QuarnControl) " QUARN_VERSION_TEXT "\n"},
        CommandCase{"config set nosuch 1", 2, "unknown setting 'nosuch'"},
        CommandCase{"config get", 0,
                    "transport            (not set)\noven-make            (not set)\nserver-repository    (not set)\n"
                    "server-registration  (not set)\n\nsettings file: "},
        CommandCase{"method check ''", 2, "FILE is empty"},
        CommandCase{"run ''", 2, "METHOD is empty"},
        CommandCase{"run m --volume nan", 2, "--volume: 'nan' is not a number (nan and inf are never accepted)"},
        CommandCase{"run m --speed -Infinity", 2, "'-Infinity' is not a number (nan and inf"},
        CommandCase{"config set transport 0x10", 1, "'0x10' is not a decimal number"},
        CommandCase{"method check ./" + kTooLong + ".toml", 1, "the file cannot be reached: File name too long"},
        CommandCase{"method show ./" + kTooLong, 1, "File name too long"},
        CommandCase{"run ./" + std::string(245, 'a') + ".toml --virtual-time", 0, "Files in runs/"},
        CommandCase{"run '" + kCaffeine + "' --out " + kTooLong + " --virtual-time", 1, "File name too long"},
        CommandCase{"run '" + kCaffeine + "' --out a-file/run --virtual-time", 1,
                    "cannot create the output folder a-file/run"},
        CommandCase{"method check loop-a", 1, "./loop-a: the file cannot be reached: Too many levels of symbolic"},
        CommandCase{"method show utf8.toml", 0, "Method                 : Café 5 µl\n"},
        CommandCase{"method check utf8.toml", 0, "note: using the file ./utf8.toml; the method " + std::string("/")},
        CommandCase{"method check /proc/self/mem", 1, "the file cannot be read: Input/output error"},
        CommandCase{"run '" + kCaffeine + "' --volume 1e-9 --transport direct", 1,
                    "--volume: the direct transport sends volumes in whole nanolitres: 1e-09 µl runs as 0 µl"},
        CommandCase{"run '" + kCaffeine + "' --volume 0.0009 --transport server", 1, "would inject 0.0009 µl, less"},
        CommandCase{"method check --transport direct short.toml", 1,
                    "line 4, key 'pump.stop_time': error: the direct transport sends the length of a sample run in "
                    "whole seconds: 0.001 min runs as 0 s"},
        CommandCase{"method check --transport server short.toml", 1,
                    "line 6, key 'autosampler.injection_volume': error: the server transport would inject 0.0004 µl"},
        CommandCase{"run \"$(printf 'e\\033[2Jx\\nnl.toml')\" --virtual-time --out esc", 0,
                    "Running ./e\\x1B[2Jx\\nnl.toml on the direct transport"},
        CommandCase{"run m --fault \"$(printf 'x\\033')\"", 2, "unknown fault 'x\\x1B'"},
        CommandCase{"run '" + kCaffeine + "' --out busy --force --virtual-time", 1,
                    "busy/status.svg is a folder, where the run writes its file"},
        CommandCase{"run '" + kCaffeine + "' --speed 10 --virtual-time", 2, "cannot be used together"},
        CommandCase{"run '" + kCaffeine + "' --json --virtual-time", 0, "-caffeine-isocratic\n"},  // runs/<date>-<time>-<stem>
        CommandCase{"run gone.toml", 1, "the method file ./gone.toml is a link to nowhere.toml, which does not exist"},
        CommandCase{"run m --solvent E=water", 2,
                    "--solvent 'E=water': expected CHANNEL=SOLVENT with CHANNEL A, B, C or D (as in --solvent "
                    "B=methanol)"},
        CommandCase{"run m --solvent b:water", 2, "--solvent 'b:water': expected CHANNEL=SOLVENT"},
        CommandCase{"sequence l --solvent 'b=Hexane'", 2, "'Hexane' is not a solvent the simulator knows; expected"},
        CommandCase{"run m --solvent B=", 2, "--solvent 'B=': '' is not a solvent the simulator knows"},
        CommandCase{"method check m --solvent a=water --solvent b=water --solvent B=MeOH", 2,
                    "'B=MeOH': channel B is given twice"},
        CommandCase{"run '" + kCaffeine + "' --column 4.6X100,3.5 --dwell 0.1 --flow-ramp 100 --virtual-time", 0,
                    "Simulated: 4.6 x 100 mm, 3.5 um column (bed porosity 0.40, system 10 bar at 1 ml/min and 1 cP), "
                    "dwell volume 0.1 ml, flow ramp 100 ml/min per minute."},
        CommandCase{"run m --column 2.1x100", 2,
                    "--column: expected DIAMETERxLENGTH,PARTICLE in mm, mm and um (2.1x100,1.7), found '2.1x100'"},
        CommandCase{"run m --column 2.1x100,0.2", 2, "--column: expected a particle size from 0.5 to 100 um, found 0.2"},
        CommandCase{"sequence l --column 2.1x5,1.7", 2, "--column: expected a column length from 10 to 1000 mm, found 5"},
        CommandCase{"run m --dwell 25", 2, "--dwell"},
        CommandCase{"run m --column 0.05x10,0.5", 1, "unknown method 'm'"},  // each at its least: taken
        CommandCase{"sequence l --flow-ramp 0", 2, "--flow-ramp"},
        CommandCase{"sequence l --fault 3:pump-overheat", 2, "--fault 'pump-overheat': unknown fault 'pump-overheat'"},
        CommandCase{"run short.toml --transport server", 1,
                    "the method would not run as written on the server transport (the errors above); nothing was run"}),
    [](const auto& p) { return "Case" + std::to_string(p.index); });

struct SettingsCase {
  const char* name;
  std::string bytes;  // the settings file before
  fs::perms perms;
  bool viaLink;       // the settings file is a link to the file holding them
  std::string args;
  int exitCode;
  std::string text;
  std::string kept;   // what the file still holds afterwards
};

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

const std::string kKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvatec\\Inlets\\InletKernel\\QuarnControl\\Configuration]";
const std::string kMakes = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvatec\\Instruments\\Makes]";
constexpr fs::perms kRw = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
constexpr fs::perms kReadOnly = fs::perms::owner_read | fs::perms::group_read;

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class HostileSettingsTest : public HostChecksTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(HostileSettingsTest, AreReadOrReportedAndNeverLost) {
  const SettingsCase& c = GetParam();
  const fs::path file = c.viaLink ? m_dir / "real.reg" : Registry();
  std::ofstream(file, std::ios::binary) << c.bytes;
  fs::permissions(file, c.perms);
  if (c.viaLink) fs::create_symlink("real.reg", Registry());
  const auto [code, out] = Run(c.args);
  EXPECT_EQ(code, c.exitCode) << out;
  EXPECT_NE(out.find(c.text), std::string::npos) << out;
  EXPECT_EQ(out.find(": Success"), std::string::npos) << out;
  EXPECT_NE(Read(file).find(c.kept), std::string::npos) << Read(file);
  EXPECT_EQ(fs::status(file).permissions(), c.perms);
  EXPECT_EQ(fs::is_symlink(Registry()), c.viaLink);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileSettingsTest,
    ::testing::Values(
        SettingsCase{"Utf16ExportWithHeaderAndCrlf",
                     Utf16("Windows Registry Editor Version 5.00\r\n\r\n" + kKey +
                           "\r\n\"NetBoxComms\"=dword:00000001\r\n"),
                     kRw, false, "config get transport", 0, "server (1)\n", ""},
        SettingsCase{"Utf8BomAndHexValuesKept",
                     "\xEF\xBB\xBFREGEDIT4\r\n" + kMakes + "\r\n@=\"default\"\r\n\"Bin\"=hex:01,02,\\\r\n  03\r\n",
                     kRw, false, "config set oven-make 'Quärn 900'", 0, "", "\"Bin\"=hex:01,02,03"},
        SettingsCase{"Utf8BomTextIsConverted", "\xEF\xBB\xBF" + kMakes + "\r\n\"OVEN\"=\"Quärn\"\r\n", kRw, false,
                     "config get oven-make", 0, "Quärn\n", ""},
        SettingsCase{"Utf8WithoutBomIsRead", kMakes + "\n\"OVEN\"=\"caf\u00e9\"\n", kRw, false, "config get oven-make",
                     0, "caf\u00e9\n", ""},
        SettingsCase{"TextTheValueCannotHoldIsRefused", kMakes + "\n\"OVEN\"=\"A\"\n", kRw, false,
                     "config set oven-make '\u2603 snow \u00e9'", 1,
                     "can hold only the characters of the Windows-1252 code page", "\"OVEN\"=\"A\""},
        SettingsCase{"DamagedFileOnGet", "[x\n", kRw, false, "config get", 1, "damaged at line 1", "[x\n"},
        SettingsCase{"DamagedFileStopsStatus", "[x\n", kRw, false, "status", 1,
                     "the settings cannot be used, so nothing was run: the registry file", "[x\n"},
        SettingsCase{"WrongTypeIsNamed", kKey + "\n\"NetBoxComms\"=\"1\"\n", kRw, false, "config get transport", 1,
                     "holds text (\"1\") where a number (dword) belongs", "\"NetBoxComms\"=\"1\""},
        SettingsCase{"WrongTypeSurvivesARun", kKey + "\n\"NetBoxComms\"=\"1\"\n", kRw, false,
                     "run '" + kCaffeine + "' --virtual-time --quiet", 0, "it has been left as it is",
                     "\"NetBoxComms\"=\"1\""},
        SettingsCase{"ReadOnlyFile", kMakes + "\n\"OVEN\"=\"A\"\n", kReadOnly, false, "config set oven-make B", 1,
                     "is read-only; nothing was changed", "\"OVEN\"=\"A\""},
        SettingsCase{"DamagedFile", "garbage\n", kRw, false, "config set oven-make B", 1, "damaged at line 1",
                     "garbage\n"},
        SettingsCase{"LineBreakInAValue", "", kRw, false, "config set server-repository \"$(printf 'a\\nb')\"", 1,
                     "cannot hold a line break", ""},
        SettingsCase{"LinkedFileKeepsItsLinkAndPermissions", kMakes + "\n\"OVEN\"=\"A\"\n", kRw, true,
                     "config set transport 010", 0, "", "\"NetBoxComms\"=dword:0000000a"},
        SettingsCase{"ReadOnlyFileRunsOnTheTransportAskedFor", kKey + "\n\"NetBoxComms\"=dword:00000000\n", kReadOnly,
                     false, "run '" + kCaffeine + "' --transport server --virtual-time --out r", 0,
                     "on the server transport (--transport)", "\"NetBoxComms\"=dword:00000000"}),
    [](const auto& p) { return std::string(p.param.name); });

// What is at the settings file's path, or beside it, is never written
// through, replaced, waited on or read without end.
struct PlacedCase {
  const char* name;
  const char* setup;  // shell commands in the test's folder
  const char* args;
  int exitCode;
  const char* text;
};

void PrintTo(const PlacedCase& c, std::ostream* os) { *os << c.name; }

class HostileSettingsPlaceTest : public HostChecksTest, public ::testing::WithParamInterface<PlacedCase> {};

TEST_P(HostileSettingsPlaceTest, IsRefusedOrLeftAlone) {
  const PlacedCase& c = GetParam();
  ASSERT_EQ(std::system(("cd '" + m_dir.string() + "' && echo keep > victim && " + c.setup).c_str()), 0);
  const fs::file_status before = fs::symlink_status(Registry());
  const auto [code, out] = Run(c.args);
  EXPECT_EQ(code, c.exitCode) << out;
  EXPECT_NE(out.find(c.text), std::string::npos) << out;
  EXPECT_EQ(Read(m_dir / "victim"), "keep\n");
  if (fs::exists(before)) {
    EXPECT_EQ(fs::symlink_status(Registry()).type(), before.type());
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileSettingsPlaceTest,
    ::testing::Values(
        PlacedCase{"Fifo", "mkfifo registry.reg", "config get", 1, "is a FIFO (a named pipe), not an ordinary file"},
        PlacedCase{"LinkToDevice", "ln -s /dev/null registry.reg", "config set oven-make A", 1,
                   "registry.reg is a character device, not an ordinary file; it has been left as it is"},
        PlacedCase{"EndlessDevice", "ln -s /dev/zero registry.reg", "config get", 1, "a character device"},
        PlacedCase{"Folder", "mkdir registry.reg", "config set oven-make A", 1, "is a folder"},
        PlacedCase{"HugeFile", "truncate -s 17M registry.reg", "config get", 1, "is larger than 16 MB"},
        PlacedCase{"FolderNotCreated", "ln -s nodir/x.reg registry.reg", "config set oven-make A", 1,
                   "the folder nodir of the registry file registry.reg does not exist; nothing was written"},
        PlacedCase{"RunRefused", "mkfifo registry.reg", "run m --virtual-time", 1,
                   "the settings cannot be used, so nothing was run: the registry file"},
        PlacedCase{"PlantedTemporaryFile", "ln -s victim registry.reg.tmp && ln -s victim registry.reg.tmp-000000",
                   "config set oven-make B", 0, ""},
        PlacedCase{"PlantedLockFile", "ln -s victim registry.reg.lock", "config set oven-make B", 1,
                   "cannot lock the registry file: cannot open registry.reg.lock: Too many levels of symbolic"}),
    [](const auto& p) { return std::string(p.param.name); });

// Twelve pairs of runs at once, one on each transport, with the setting
// at the server: each runs on its own transport and says so, and the
// settings file is not touched.
TEST_F(HostChecksTest, RunsInPairsEachKeepTheirTransport) {
  std::ofstream(m_dir / "one.toml") << "[pump]\nflow = 1.0\nmax_pressure = 400\nstop_time = 0.2\n";
  ASSERT_EQ(Run("config set transport server").exitCode, 0);
  for (const char* first : {"direct", "server"}) {  // what the plug-in records once
    ASSERT_EQ(Run(std::string("run one.toml --virtual-time --quiet --transport ") + first).exitCode, 0);
  }
  const std::string settings = Read(Registry());
  const char* const transports[] = {"direct", "server"};
  for (int pair = 0; pair < 12; ++pair) {
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
      if ((children[k] = fork()) == 0) {
        _exit(Run("run one.toml --virtual-time --quiet --trace --transport " + std::string(transports[k]) +
                  " --out " + transports[k] + std::to_string(pair)).exitCode);
      }
    }
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << pair;
    }
    for (const char* transport : transports) {
      const fs::path dir = m_dir / (transport + std::to_string(pair));
      const std::string record = Read(dir / "experiment-record.txt");
      EXPECT_NE(record.find(std::string(", ") + transport + " transport, "), std::string::npos) << record;
      EXPECT_NE(record.find("Run result: completed"), std::string::npos) << record;
      const bool server = transport == std::string("server");
      EXPECT_NE(Read(dir / (server ? "server-calls.log" : "wire-trace.log"))
                    .find(server ? "Session.StartRun()" : "StatusReply"), std::string::npos) << dir;
      EXPECT_FALSE(fs::exists(dir / (server ? "wire-trace.log" : "server-calls.log"))) << dir;
    }
  }
  EXPECT_EQ(Read(Registry()), settings);
}

// Three processes each set their own setting 30 times, reading it back
// after each write: no write of one is undone by another.
TEST_F(HostChecksTest, ConcurrentConfigSetsLoseNothing) {
  const char* const keys[] = {"oven-make", "server-repository", "server-registration"};
  pid_t children[3];
  for (int k = 0; k < 3; ++k) {
    children[k] = fork();
    ASSERT_GE(children[k], 0);
    if (children[k] == 0) {
      int lost = 0;
      for (int n = 1; n <= 30; ++n) {
        const std::string value = "v" + std::to_string(n);
        if (Run(std::string("config set ") + keys[k] + " " + value).exitCode != 0) ++lost;
        if (Run(std::string("config get ") + keys[k]).out != value + "\n") ++lost;
      }
      _exit(lost);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writes lost: " << WEXITSTATUS(status);
  }
  for (const char* key : keys) EXPECT_EQ(Run(std::string("config get ") + key).out, "v30\n") << key;
}

// One method with everything the direct transport rounds, ignores or
// refuses: each warning names the line and key, `check` passes unless
// --strict, and `run` shows the same warnings before it starts. A 22-step
// timetable is an error; a step at 0 min that overrides [pump] is said
// unless the timetable is not sent; the server carries D and every step's
// own values, and cuts the autosampler's time to whole minutes.
TEST_F(HostChecksTest, MethodCheckWarnsWithFileLineAndTransport) {
  std::ofstream(m_dir / "w.toml") << "[pump]\nsystem = \"quaternary\"\nflow = 0.7\nmax_pressure = 400.0\n"
                                     "stop_time = 20\npercent_b = 12.5\npercent_d = 5\n[[pump.timetable]]\ntime = 1\n"
                                     "flow = 0.0005\nmax_pressure = 500\n[oven]\ntemperature = 37.5\n"
                                     "[autosampler]\nanalysis_time = 26.01\n[uv]\nautozero = true\n"
                                     "[events.initial]\nvalve1 = 2\n[[events.timed]]\ntime = 2\nevent1 = \"pulse\"\n";
  std::ofstream long_(m_dir / "long.toml");
  long_ << "[pump]\nsystem = \"binary\"\nflow = 1\nmax_pressure = 400\nstop_time = 30\n";
  for (int step = 0; step < 22; ++step) {
    long_ << "[[pump.timetable]]\ntime = " << step << (step ? "\n" : "\npercent_b = 30\nflow = 1\n");
  }
  long_ << "[oven]\ntemperature = 40\n[uv]\nautozero = false\n";  // as sent: no warning
  long_.close();
  std::string outputs;
  std::ofstream(m_dir / "iso.toml") << "[pump]\nflow=1\nmax_pressure=4\nstop_time=5\ntimetable=[{time=0, flow=2}]";
  std::ofstream(m_dir / "sol.toml") << kSolventsMethod;
  // The simulators' column: every kind of mistake (and a run refused for
  // them), and a column that reads above the method's limit at the start.
  const std::string pump = "[pump]\nflow = 1\nmax_pressure = 300\nstop_time = 5\n";
  std::ofstream(m_dir / "col.toml") << pump << "[column]\nlength = 100\nparticle_um = 0.1\nporosity = \"dense\"\n";
  std::ofstream(m_dir / "high.toml") << pump << "[column]\nlength_mm = 250\ndiameter_mm = 2.1\nparticle_um = 3\n"
                                        "porosity = 0.35\nsystem_pressure = 0.5\ndwell_volume_ml = 20\n";
  std::ofstream(m_dir / "flat.toml") << "column = 5\n" << pump;
  std::ofstream(m_dir / "cut.toml") << pump << "[autosampler]\nanalysis_time = 3.5\n";
  std::ofstream(m_dir / "cold.toml") << pump << "[oven]\ntemperature = 15\n";  // below the room
  for (const char* args : {"w.toml", "--strict w.toml", "long.toml", "--transport server w.toml", "iso.toml",
                           "--strict --solvent c=THF sol.toml", "col.toml", "high.toml", "flat.toml", "cut.toml",
                           "cold.toml"}) {
    const auto [code, out] = Run(std::string("method check ") + args);
    outputs += "$ quarn-host method check " + std::string(args) + "\n" + out + "(exit " + std::to_string(code) + ")\n";
  }
  const auto [code, out] = Run("run col.toml --virtual-time");
  outputs += "$ quarn-host run col.toml --virtual-time\n" + out + "(exit " + std::to_string(code) + ")\n";
  testing_support::ExpectMatchesGolden(outputs, "host/golden/method-checks.txt");
  const std::string run = Run("run w.toml --virtual-time").out;
  std::istringstream check(Run("method check w.toml").out);
  int warnings = 0;
  for (std::string line; std::getline(check, line);) {
    if (line.find(": warning: ") == std::string::npos) continue;
    ++warnings;
    EXPECT_LT(run.find(line.substr(line.find("line "))), run.find("Opening communications")) << line << "\n" << run;
  }
  EXPECT_EQ(warnings, 11);
}

// The simulator's solvents: the run prints the guess and logs what the
// method check says, and --solvent reaches the bottles (acetonitrile in B
// for the guessed methanol: less pressure, once the dwell volume is through).
TEST_F(HostChecksTest, ARunLogsTheSolventsAndTheOptionFillsTheBottles) {
  std::ofstream(m_dir / "sol.toml") << kSolventsMethod;
  const std::string check = Run("method check sol.toml --solvent c=THF").out;
  const std::size_t warning = check.rfind('\n', check.find(": warning: solvent B")) + 1;
  const auto run = Run("run sol.toml --virtual-time --quiet --out r --solvent c=THF");
  EXPECT_NE(run.out.find(check.substr(warning, check.find('\n', warning) - warning)), std::string::npos) << run.out;
  const std::string log = Read(m_dir / "r" / "logbook.txt");
  std::istringstream lines(check);
  int logged = 0;
  for (std::string line; std::getline(lines, line);) {
    // The verdict and the predictions are the check's own, not the run's.
    if (line.starts_with("./sol.toml: ok") || line.find("predict") != std::string::npos) continue;
    EXPECT_NE(log.find("method " + line), std::string::npos) << line << "\n" << log;
    ++logged;
  }
  EXPECT_EQ(logged, 3);
  Run("run sol.toml --virtual-time --quiet --out w --solvent b=MeCN");
  const auto bar = [&](const char* folder) {  // the pressure of status.csv's last row
    std::istringstream csv(Read(m_dir / folder / "status.csv"));
    std::string line, cell;
    while (std::getline(csv, cell)) line = cell;
    std::istringstream cells(line);
    for (int column = 0; column < 9; ++column) std::getline(cells, cell, ',');
    return std::stod(cell);
  };
  EXPECT_LT(bar("w"), bar("r") * 0.75);
}

// A sample run longer than the method (analysis time 7 min, stop time
// 1 min) is stopped 5 min after the run length, as the message says.
TEST_F(HostChecksTest, ARunPastItsLengthIsStoppedAtTheMarginItNames) {
  std::ofstream(m_dir / "over.toml") << "[pump]\nflow = 1\nmax_pressure = 400\nstop_time = 1\n"
                                        "[autosampler]\nanalysis_time = 7\n";
  const auto [code, out] = Run("run over.toml --virtual-time --quiet --out run");
  EXPECT_EQ(code, 1);
  EXPECT_NE(out.find("the run did not end within 5 min after the method's run length of 1.0 min"), std::string::npos);
  const std::string csv = Read(m_dir / "run" / "status.csv");
  const std::string last = csv.substr(csv.rfind('\n', csv.size() - 2) + 1);
  EXPECT_NEAR(std::stod(last.substr(last.find(',', last.find(',') + 1) + 1)), 6.0, 0.05) << last;
}

TEST(HostJsonTest, EveryTextComesOutAsValidJson) {
  host::PollRow row;
  for (int c = 0; c < 256; ++c) row.errorText += static_cast<char>(c);
  const auto parsed = nlohmann::json::parse(host::JsonRow(row));
  EXPECT_EQ(parsed["error_text"].get<std::string>(), host::Utf8FromWindows1252(row.errorText));
  // The edges of the range that differs from Latin-1.
  EXPECT_EQ(host::Utf8FromWindows1252("\x7F\x80\x9F\xA0\xFF"), "\x7F\u20AC\u0178\u00A0\u00FF");
}

}  // namespace
