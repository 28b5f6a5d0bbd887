// Sample lists run in this process on the simulated instruments, read
// through the simulators' test face: what each sample start pushes to the
// network, the server calls of each method change, and how a failed sample
// stops or is skipped on each transport.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "host/cli/commands.h"
#include "host/inputs/config_keys.h"
#include "platform/vexlink/download_records.h"
#include "platform/win/registry.h"
#include "sim/fault_schedule.h"
#include "tests/support/golden.h"
#include "tests/transport/transport_world.h"

namespace {

using testing_support::Transport;

class SequenceTest : public testing_support::TransportWorld,
                     public testing::WithParamInterface<Transport> {
 protected:
  void SetUp() override {
    TransportWorld::SetUp();
    sim::FaultSchedule::Get().ResetForTesting();  // a clock driver again, after the clock's reset
  }
  void TearDown() override {
    // The sequence held its transport for this process; later tests set theirs.
    const auto [key, name] = platform::SplitValuePath(host::FindConfigKey("transport")->fullPath);
    platform::Registry::Get().HoldForProcess(HKEY_LOCAL_MACHINE, key, name, std::nullopt);
    TransportWorld::TearDown();
  }

  // A list of `count` one-minute samples, vial i and volume i/10 µl; with
  // `methods`, the rows name them in turn.
  void WriteList(int count, std::vector<std::string> methods = {"one.toml"}) {
    for (const std::string& method : methods) {
      std::ofstream(TempDir() / method) << "[pump]\nflow = 1.0\nmax_pressure = 400\nstop_time = 1\n";
    }
    // As a spreadsheet may save it: a byte-order mark, quoted cells (a note
    // of two lines), a comment and a blank line.
    std::ofstream list(TempDir() / "list.csv", std::ios::binary);  // the bytes a spreadsheet saves
    list << "\xEF\xBB\xBFSample,method,vial,volume,note\n# the samples\n\n";
    for (int i = 1; i <= count; ++i) {
      list << "\"s" << i << "\"," << methods[static_cast<std::size_t>(i - 1) % methods.size()] << "," << i << ","
           << i / 10.0 << ",\"a, \"\"quoted\"\"\r\nnote\"\r\n";
    }
  }

  int Run(Transport transport, bool skip = false, std::vector<host::SampleFault> faults = {}) {
    host::SequenceOptions o;
    o.list = (TempDir() / "list.csv").string();
    o.transport = transport == Transport::kServer ? host::Transport::kServer : host::Transport::kDirect;
    o.virtualTime = true;
    o.mode = host::OutputMode::kQuiet;
    o.out = TempDir() / "seq";
    o.skipFailed = skip;
    o.faults = std::move(faults);
    o.keepSimulatorLogs = true;
    const std::filesystem::path said = TempDir() / "output.txt";
    std::FILE* sink = std::fopen(said.string().c_str(), "w+b");
    host::TerminalUi terminal(host::OutputMode::kQuiet, sink, sink, false);
    const int code = host::SequenceCommand(o, terminal);
    std::fclose(sink);
    std::ifstream in(said, std::ios::binary);
    m_output.assign(std::istreambuf_iterator<char>(in), {});
    return code;
  }

  std::vector<std::string> TableRows() const {
    std::ifstream in(TempDir() / "seq" / "sequence.csv");
    std::vector<std::string> rows;
    // A record goes on while a quoted cell is open (a note's line break).
    for (std::string line; std::getline(in, line);) {
      const bool open = !rows.empty() && std::count(rows.back().begin(), rows.back().end(), '"') % 2 == 1;
      if (open) rows.back() += "\n" + line;
      else rows.push_back(line);
    }
    return rows;
  }

  std::string m_output;
};

// A hundred sample starts on one method load: each pushes the analysis
// file with its own vial and volume; each start adds an autosampler entry
// to the unit list until its 64 entries are full, and none is written past.
TEST_F(SequenceTest, HundredSamplesOnTheDirectTransport) {
  WriteList(100);
  ASSERT_EQ(Run(Transport::kDirect), 0) << m_output;
  std::vector<std::pair<int, int>> started;  // (vial, nl) of each sample start
  int lastUnits = 0;
  for (const sim::DriverCall& call : net.Calls()) {
    if (call.name != "LC_PushAnlsFile") continue;
    const auto field = [&call]<class F>(std::size_t record, F, std::size_t at = 0) {
      return le::Load<typename F::Type>(call.records[record].data() + at + F::kOffset);
    };
    const int vial = field(0, RunHeader::FirstVial{});
    const int nl = field(0, RunHeader::InjectVolumeNl{});
    int units = 0;
    while (units < 64 && field(1, AnlsFile::UnitEntry{}, AnlsFile::UnitList::kOffset + 2 * units) != 0) ++units;
    EXPECT_GE(units, lastUnits);
    lastUnits = units;
    if (vial != 0xFFFF && (started.empty() || started.back() != std::pair(vial, nl))) started.emplace_back(vial, nl);
  }
  // Before the first sample, the pump's start pushes the method's own
  // autosampler values (vial 1, 1 µl).
  ASSERT_EQ(started.size(), 101u);
  EXPECT_EQ(started.front(), std::pair(1, 1000));
  started.erase(started.begin());
  for (int i = 1; i <= 100; ++i) EXPECT_EQ(started[i - 1], std::pair(i, i * 100)) << i;
  EXPECT_EQ(lastUnits, 64);
  const auto rows = TableRows();
  ASSERT_EQ(rows.size(), 101u);
  EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const std::string& r) { return r.find(",good,") != std::string::npos; }), 100);
}

// On the server the method goes to the instruments (a method built anew)
// once per change of method, not once per sample.
TEST_F(SequenceTest, OnTheServerAMethodIsLoadedOncePerChange) {
  WriteList(6, {"a.toml", "a.toml", "b.toml", "b.toml", "b.toml", "a.toml"});
  ASSERT_EQ(Run(Transport::kServer), 0) << m_output;
  std::vector<std::string> vials;
  int loads = 0;
  for (const std::string& call : server.Calls()) {
    loads += call.rfind("Sequence.GetEmptyMethod(", 0) == 0;
    if (call.rfind("Sequence.SetVial(", 0) == 0 && call != "Sequence.SetVial(1)") vials.push_back(call);
  }
  EXPECT_EQ(loads, 3);
  EXPECT_EQ(vials, (std::vector<std::string>{"Sequence.SetVial(2)", "Sequence.SetVial(3)", "Sequence.SetVial(4)",
                                              "Sequence.SetVial(5)", "Sequence.SetVial(6)"}));
}

// A pressure trip in sample 3 of 10: --on-error stop ends the sequence
// there and says where to resume; skip records it and runs the rest.
TEST_P(SequenceTest, AFailedSampleStopsOrIsSkipped) {
  for (const bool skip : {false, true}) {
    SetUp();
    UseTransport(GetParam());
    WriteList(10);
    const host::FaultRead trip = host::ReadFault("pump-overpressure@0.5");
    ASSERT_TRUE(trip.fault);
    m_output.clear();
    EXPECT_EQ(Run(GetParam(), skip, {{3, *trip.fault}}), 1);
    const auto rows = TableRows();
    ASSERT_EQ(rows.size(), skip ? 11u : 4u) << m_output;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].find(i == 3 ? ",failed," : ",good,") != std::string::npos, true) << rows[i];
    }
    EXPECT_NE(rows[3].find("pump-overpressure@0.5"), std::string::npos) << rows[3];
    std::ifstream chart(TempDir() / "seq" / "sequence.svg");
    const std::string svg{std::istreambuf_iterator<char>(chart), {}};
    EXPECT_NE(svg.find(skip ? "10 samples: 9 good, 1 failed" : "3 samples: 2 good, 1 failed"), std::string::npos);
    EXPECT_NE(svg.find(">failed: 3 s3</text>"), std::string::npos);
    // The drawing itself, element by element.
    if (skip && GetParam() == Transport::kDirect) testing_support::ExpectMatchesGolden(svg, "transport/golden/sequence-chart.svg");
    EXPECT_NE(m_output.find(skip ? "1 of 10 samples failed" : "resume from sample 3 with: quarn-host sequence"),
              std::string::npos)
        << m_output;
    TearDown();
  }
  SetUp();
}
INSTANTIATE_TEST_SUITE_P(Both, SequenceTest, testing::Values(Transport::kDirect, Transport::kServer),
                         testing_support::TransportName);

}  // namespace
