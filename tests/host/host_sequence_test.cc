// Sample lists through the program: refused before anything runs, and
// interrupted then resumed with nothing lost and nothing run twice (killed
// at random instants: host_torture_test.cc).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host/host_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HostProgramTest;
using testing_support::Result;

class HostSequenceTest : public HostProgramTest {
 protected:
  void WriteFiles(int samples) {
    std::ofstream(m_dir / "half.toml") << "[pump]\nflow = 1.0\nmax_pressure = 400\nstop_time = 0.5\n";
    std::ofstream list(m_dir / "list.csv");
    list << "sample,method,vial,volume\n";
    for (int i = 1; i <= samples; ++i) list << "s" << i << ",half.toml," << i << ",2\n";
  }

  // sequence.csv's rows as (number, result, folder).
  std::vector<std::vector<std::string>> Table() const {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(Read(m_dir / "seq" / "sequence.csv"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::vector<std::string> cells;
      std::istringstream cellsIn(line);
      for (std::string cell; std::getline(cellsIn, cell, ',');) cells.push_back(cell);
      rows.push_back({cells.at(0), cells.at(10), cells.at(7)});
    }
    return rows;
  }
};

// A sample that failed runs again when the sequence is resumed, one whose
// record holds its result does not; a fault for a sample the list does not
// have is refused before anything runs.
TEST_F(HostSequenceTest, AFailedSampleRunsAgainOnResume) {
  WriteFiles(2);
  std::ofstream(m_dir / "list.csv", std::ios::app) << "\"a\"\"zAZ09\",half.toml,3,2\n";
  Result r = Run("sequence list.csv --virtual-time --quiet --out seq --fault 4:pump-overpressure@0.2");
  EXPECT_NE(r.out.find("--fault 4:pump-overpressure@0.2: the list has 3 samples"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(m_dir / "seq"));
  EXPECT_EQ(Run("sequence list.csv --virtual-time --quiet --out seq --fault 2:pump-overpressure@0.2").exitCode, 1);
  std::ofstream(m_dir / "seq" / "journal.txt", std::ios::app) << "kept\t2\t002-s2\t002-s2.failed\n";  // not moved yet
  r = Run("sequence list.csv --virtual-time --quiet --resume seq");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Table(), (std::vector<std::vector<std::string>>{{"1", "good", "001-s1"}, {"2", "failed", "002-s2.failed"},
                                                             {"2", "good", "002-s2"}, {"3", "good", "003-a_zAZ09"}}));
  const std::string csv = Read(m_dir / "seq" / "sequence.csv");
  EXPECT_NE(csv.find(",\"a\"\"zAZ09\","), std::string::npos) << "a quote in a cell is doubled";
  EXPECT_NE(Read(m_dir / "seq" / "sequence.svg").find(">3</text><text x=\"142\" y=\"749.0\">a&quot;zAZ09</text><text "
                                                      "x=\"390\" y=\"749.0\">half.toml</text>"),
            std::string::npos);
  // The failed attempt's reason and peak, read back from the journal.
  EXPECT_NE(csv.find(",failed,ended at 0.1 of 0.5 min: flow dropped to 0; injected fault: pump-overpressure@0.2,98.0,"),
            std::string::npos)
      << csv;
  std::ofstream(m_dir / "seq" / "sequence.csv") << "number\n";  // a kill after the last end, before its row
  EXPECT_EQ(Run("sequence list.csv --virtual-time --quiet --resume seq").exitCode, 0);
  EXPECT_EQ(Read(m_dir / "seq" / "sequence.csv"), csv);
  // A kill after sample 3's record, before its end line: it is not run again, its record holds the result;
  // the list may be named by another path. A journal copied to another folder runs its samples again.
  std::string journal = Read(m_dir / "seq" / "journal.txt");
  std::ofstream(m_dir / "seq" / "journal.txt", std::ios::trunc) << journal.erase(journal.find("end\t3\t"));
  fs::create_directory(m_dir / "copy");
  fs::copy_file(m_dir / "seq" / "journal.txt", m_dir / "copy" / "journal.txt");
  r = Run("sequence " + (m_dir / "list.csv").string() + " --virtual-time --resume seq");
  EXPECT_NE(r.out.find("Sample 3 had ended (completed, 0.5 of 0.5 min) before the sequence stopped"), std::string::npos)
      << r.out;
  journal = Read(m_dir / "seq" / "journal.txt");
  EXPECT_EQ(journal.find("start\t3\t"), journal.rfind("start\t3\t")) << "run again: " << journal;
  EXPECT_NE(journal.find("\nend\t3\tgood\t003-a_zAZ09\t"), std::string::npos) << "the recovery journaled: " << journal;
  EXPECT_EQ(Read(m_dir / "seq" / "002-s2" / "method-half.toml"), Read(m_dir / "half.toml")) << "the method that ran";
  r = Run("sequence list.csv --virtual-time --resume copy");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("Sample 1 ended good, but its folder copy/001-s1 holds no record; it runs again"),
            std::string::npos) << r.out;
  EXPECT_NE(Read(m_dir / "copy" / "sequence.csv").find(",failed,its folder 001-s1 was missing when the sequence was "
                                                       "resumed,"), std::string::npos);
}

// A sample whose server was lost fails with that as its cause; the next
// one opens on a server made afresh.
TEST_F(HostSequenceTest, TheSampleAfterALostServerOpensOnANewOne) {
  WriteFiles(2);
  EXPECT_EQ(Run("sequence list.csv --transport server --virtual-time --quiet --out seq --on-error skip "
                "--fault server-exit@0.2").exitCode, 1);
  EXPECT_EQ(Table(), (std::vector<std::vector<std::string>>{{"1", "failed", "001-s1"}, {"2", "good", "002-s2"}}));
  EXPECT_NE(Read(m_dir / "seq" / "sequence.csv").find(",failed,failed at 0.1 of 0.5 min: the instrument server was "
                                                       "lost: the simulated server stopped answering;"),
            std::string::npos);
  // Here the server is in the host's process, which the logbook does not call a program of its own.
  EXPECT_EQ(Read(m_dir / "seq" / "002-s2" / "logbook.txt").find("own program"), std::string::npos);
}

// Rows that are not injections, on both transports: an equilibration, a
// blank run (the pump starts the run; nothing is injected) and a shutdown
// to a standby flow, which also runs when a failure stops the sequence.
TEST_F(HostSequenceTest, RowsThatAreNotInjections) {
  WriteFiles(1);
  std::ofstream(m_dir / "standby.toml") << "[pump]\nflow = 0.1\nmax_pressure = 400\nstop_time = 1\n";
  std::ofstream(m_dir / "list.csv") << "sample,method,vial,volume,action,minutes\ne,half.toml,,,equilibrate,2\n"
                                       "b,half.toml,,,blank,\ns,half.toml,3,2,,\nend,standby.toml,,,shutdown,\n";
  for (const char* transport : {"direct", "server"}) {
    fs::remove_all(m_dir / "seq");
    Result r = Run(std::string("sequence list.csv --virtual-time --quiet --trace --out seq --transport ") + transport);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(Table(), (std::vector<std::vector<std::string>>{
                           {"1", "good", "001-e"}, {"2", "good", "002-b"}, {"3", "good", "003-s"}, {"4", "good", "004-end"}}));
    EXPECT_EQ(Read(m_dir / "seq" / "001-e" / "status.csv").find(",1,equilibrating,"), std::string::npos);
    const std::string blank = Read(m_dir / "seq" / "002-b" / "status.csv");
    EXPECT_EQ(blank.find(",1,0,0,0.000"), std::string::npos) << "injecting in a blank run: " << blank;
    EXPECT_NE(Read(m_dir / "seq" / "002-b" / "experiment-record.txt")
                  .find("no injection (a blank row)"), std::string::npos);
    for (const char* folder : {"002-b", "003-s"})
      EXPECT_EQ(Read(m_dir / "seq" / folder / "experiment-record.txt").find("No injection:"), std::string::npos);
    EXPECT_NE(Read(m_dir / "seq" / "004-end" / "logbook.txt").find("UV lamp off"), std::string::npos);
    EXPECT_NE(Read(m_dir / "seq" / "004-end" / "experiment-record.txt")
                  .find("Run result: shut down: the pump at the method's 0.100 ml/min, the column oven and the UV lamp off"),
              std::string::npos);
    EXPECT_NE(Read(m_dir / "seq" / "sequence.csv").find(",,1,001-e,"), std::string::npos);
  }
  EXPECT_NE(Read(m_dir / "seq" / "server-calls.log").find("Sequence.SetVial(-1)"), std::string::npos);
  EXPECT_EQ(Run("sequence list.csv --virtual-time --quiet --out failed --fault 3:pump-overpressure@0.1").exitCode, 1);
  EXPECT_TRUE(fs::exists(m_dir / "failed" / "004-end" / "experiment-record.txt"));
}

// A method change is waited for on both transports: the flow stopped for
// another column, the new column equilibrated, the oven within its
// tolerance; past --ready-timeout the sample fails, or with
// --if-not-ready inject runs and is not called good.
TEST_F(HostSequenceTest, AMethodChangeIsWaitedFor) {
  std::ofstream(m_dir / "a.toml") << "[pump]\nflow = 1.0\nmax_pressure = 400\nstop_time = 0.5\n"
                                     "[column]\nlength_mm = 150\ndiameter_mm = 4.6\nparticle_um = 5\n";
  std::ofstream(m_dir / "c.toml") << "[pump]\nflow = 0.4\nmax_pressure = 600\nstop_time = 0.5\n[oven]\ntemperature = 60\n"
                                     "[column]\nlength_mm = 100\ndiameter_mm = 2.1\nparticle_um = 1.8\n";
  std::ofstream(m_dir / "list.csv") << "sample,method,vial,volume\na,a.toml,1,2\nc,c.toml,2,2\n";
  for (const std::string transport : {"direct", "server"}) {
    const std::string args = "sequence list.csv --virtual-time --transport " + transport + " --out " + transport;
    Result r = Run(args);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Stopping the flow for a column change: ./c.toml names another column"), std::string::npos);
    EXPECT_NE(Read(m_dir / transport / "002-c" / "status.csv").find(",equilibrating,"), std::string::npos);
    // The oven within 1 C of 60 C at the injection, after minutes; 10 column volumes of 0.22 ml, pumped at
    // 0.4 ml/min from the poll the flow reached it.
    const std::string table = Read(m_dir / transport / "sequence.csv");
    std::vector<std::string> cells;
    std::istringstream in(table.substr(table.rfind("\n2,2,c,") + 1));
    for (std::string cell; cells.size() < 18 && std::getline(in, cell, ',');) cells.push_back(cell);
    EXPECT_TRUE(cells.at(10) == "good" && std::stod(cells[15]) >= 59.0 && std::stod(cells[16]) >= 7.0) << table;
    EXPECT_GE(std::stod(cells[17]), 2.2) << table;
    EXPECT_NEAR(std::stod(cells[17]), 0.4 * std::stod(cells[16]), 0.3) << table;
    r = Run(args + "-late --ready-timeout 2");
    EXPECT_NE(r.out.find("sample 2 (c) failed before the injection: the instruments were not ready after 2.0 min ("),
              std::string::npos) << r.out;
    EXPECT_EQ(Run(args + "-injected --ready-timeout 2 --if-not-ready inject").exitCode, 1);
    EXPECT_NE(Read(m_dir / (transport + "-injected") / "sequence.csv")
                  .find(",not ready,\"completed, 0.5 of 0.5 min, but injected before the instruments were ready ("),
              std::string::npos);
  }
}

// A method edited while the sequence runs is checked again before its
// next sample, which fails without an injection when the edit fails the
// check; a file size limit stops the program with its reason.
TEST_F(HostSequenceTest, WhatRunsIsCheckedAndRecorded) {
  std::ofstream(m_dir / "a.toml") << "[pump]\nflow = 1.0\nmax_pressure = 400\nstop_time = 10\n";
  std::ofstream(m_dir / "list.csv") << "sample,method,vial,volume\ns1,a.toml,1,2\ns2,a.toml,2,2\n";
  const auto edit = [this](int program) {
    kill(program, SIGSTOP);
    std::ofstream(m_dir / "a.toml") << "[pump]\nflow = 2.5\nmax_pressure = 400\nstop_time = 0.001\n";
    kill(program, SIGCONT);
  };
  Result r = Run("sequence list.csv --virtual-time --out seq --on-error skip", 0, false, "Injecting", edit);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("sample 2 (s2) failed at 0.0 of 10.0 min: the method file ./a.toml changed since the sequence "
                       "was checked and no longer passes the check: "), std::string::npos) << r.out;
  EXPECT_EQ(Table(), (std::vector<std::vector<std::string>>{{"1", "good", "001-s1"}, {"2", "failed", "002-s2"}}))
      << Read(m_dir / "seq" / "sequence.csv");
  std::ofstream(m_dir / "a.toml") << "[pump]\nflow = 1.0\nmax_pressure = 400\nstop_time = 10\n";
  // A file size limit (ulimit -f) stops the program as a signal does, with
  // the instruments stopped and the reason said, rather than killing it.
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{40000, limit.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  r = Run("run a.toml --virtual-time --quiet --out limited");
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_EQ(r.exitCode, 128 + SIGXFSZ) << r.out;
  EXPECT_NE(r.out.find("(SIGXFSZ: a file reached this process's size limit); the instruments were stopped"),
            std::string::npos) << r.out;
}

// Links planted where the sequence writes are replaced or refused, never
// written through: the table's temporary file, the run lock, a sample folder.
TEST_F(HostSequenceTest, PlantedLinksAreNeverWrittenThrough) {
  WriteFiles(2);
  // A sequence whose records cannot be written runs nothing, under --on-error skip too.
  fs::create_directories(m_dir / "seq" / "sequence.csv.part" / "x");
  Result r = Run("sequence list.csv --virtual-time --quiet --out seq --on-error skip");
  EXPECT_NE(r.out.find("nothing was run: the sequence's records cannot be written in seq"), std::string::npos) << r.out;
  EXPECT_EQ(Read(m_dir / "seq" / "journal.txt").find("\nstart"), std::string::npos);
  fs::remove_all(m_dir / "seq" / "sequence.csv.part");
  fs::create_directories(m_dir / "elsewhere");
  std::ofstream(m_dir / "victim") << "precious data";
  fs::create_symlink(m_dir / "victim", m_dir / "seq" / "sequence.csv.part");
  fs::create_symlink(m_dir / "elsewhere", m_dir / "seq" / "002-s2");
  fs::create_symlink(m_dir / "made-by-lock", m_dir / "seq" / ".quarn-run.lock");
  r = Run("sequence list.csv --virtual-time --quiet --out seq --force --on-error skip");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("cannot write to the output folder seq: "), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(m_dir / "made-by-lock"));
  fs::remove(m_dir / "seq" / ".quarn-run.lock");
  r = Run("sequence list.csv --virtual-time --quiet --out seq --force --on-error skip");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  // What stood at a sample's folder name is set aside as it is, a link as a link.
  EXPECT_TRUE(fs::is_symlink(m_dir / "seq" / "002-s2.interrupted"));
  EXPECT_EQ(Read(m_dir / "victim"), "precious data");
  EXPECT_TRUE(fs::is_empty(m_dir / "elsewhere"));
  EXPECT_EQ(Table(), (std::vector<std::vector<std::string>>{{"1", "good", "001-s1"}, {"2", "good", "002-s2"}}));
}

// Whatever is wrong in a list is reported with the list's name and line,
// and nothing runs.
TEST_F(HostSequenceTest, AListIsCheckedWholeBeforeAnythingMoves) {
  WriteFiles(1);
  const struct {
    const char* list;
    const char* says;
    const char* file = "list.csv";
  } cases[] = {
      {"method,vial\nhalf.toml,1\n",
       "list.csv: line 1: the column 'sample' is missing\nlist.csv: line 1: the column 'volume' is missing"},
      {"sample,method,vial,volume,colour\ns1,half.toml,1,2,red\n", "list.csv: line 1: unknown column 'colour'"},
      {"sample,method,vial,volume\ns1,half.toml,1,2\ns1,half.toml,2,2\n",
       "list.csv: line 3: the sample name 's1' is used again (first on line 2)"},
      {"sample,method,vial,volume\ns1,half.toml,0,2\n", "list.csv: line 2: vial"},
      {"sample,method,vial,volume\ns1,half.toml,1,0\n", "list.csv: line 2: volume"},
      {"sample,method,vial,volume\ns1,half.toml,1,1000.5\n", "list.csv: line 2: volume"},
      {"sample,method,vial,volume,note\ns1,half.toml,1,2,a\x01b\n",
       "list.csv: line 2: the note holds a control character other than a line break"},
      // Blanks around a name or method are not part of it; a note may run over lines, a name may not.
      {"sample,method,vial,volume,note\n\"  s1 \",half.toml,1,2,\n\ts1,half.toml,2,2,\n"
       "s2,\" half.toml\t\",3,2,\"two\r\nlines\"\n\"s\r\n3\",half.toml,4,2,\n",
       "list.csv: line 3: the sample name 's1' is used again (first on line 2)\n"
       "list.csv: line 6: the sample name 's\\n3' holds a control character\n"
       "quarn-host: error: the sample list list.csv cannot run as written (2 problems above)"},
      {"sample,method,vial,volume,injections\na,half.toml,1,2,1000\nb,half.toml,1,2,1000\nc,half.toml,1,2,1000\n"
       "d,half.toml,1,2,1000\ne,half.toml,1,2,1000\nf,half.toml,1,2,1000\ng,half.toml,1,2,1000\nh,half.toml,1,2,1000\n"
       "i,half.toml,1,2,1000\nj,half.toml,1,2,1000\nk,half.toml,1,2,1000\n",
       "list.csv: the list holds 11000 samples in all (each injection is a sample); at most 10000 are allowed"},
      {"sample,method,vial,volume\ns1,half.toml,1,", "list.csv: line 2: volume"},  // no line end after the last
      {"sample,method,vial,volume\ns1,missing.toml,1,2\n", "list.csv: line 2: unknown method"},
      // Rows that inject nothing: each action's own rules.
      {"sample,method,vial,volume,action,minutes,injections\nend,,,,shutdown,,\ne,half.toml,,,equilibrate,,\n"
       "b,half.toml,,,blank,,2\nx,half.toml,1,2,boil,,\ni,half.toml,1,2,,5,\n",
       "list.csv: line 2: a shutdown row ends the list: it is the last row, which also runs when the sequence stops on "
       "a failure\nlist.csv: line 3: minutes: '' is not a number; expected a number from 0.1 to 1440\n"
       "list.csv: line 4: injections: a blank row injects "
       "nothing\nlist.csv: line 5: action: 'boil' is not one of inject, blank, equilibrate and shutdown\n"
       "list.csv: line 6: minutes: only an equilibrate row takes minutes"},
      {"sample;method;vial;volume\ns1;half.toml;1;0,0001\n", "list.csv: line 2: volume: the direct transport"},
      {"sample,method,vial,volume\n", "list.csv: the list holds no samples"},  // the whole list: no line
      {"sample,method,vial,volume\ns1", "list.csv: line 2: the sample has no method file"},  // one cell, no line end
      {"sample,method,vial,volume,Sample\ns1,half.toml,1,2,s2\n", "list.csv: line 1: the column 'sample' is named twice"},
      {"[[sample]]\nsample = 's1'\nmethod = 'half.toml'\nvial = 0\nvolume = 2\n", "list.toml: line 4: vial", "list.toml"},
      {"sample,method,vial,volume\n\"\x1B\",half.toml,1,2\n\"\x1B\",half.toml,2,2\n", "line 3: the sample name '\\x1B' is"},
      {"[[sample]]\nvial = n\x01\n", "list.toml: line 2: not valid TOML in a number: expected 'nan', found 'n\\x01'", "list.toml"},
      {"[[sample]]\nsample = 's1'\nmethod = 'half.toml'\nvial = true\nvolume = 2\nrack = 1\n",
       "list.toml: line 4: 'vial' takes a text or a number\nlist.toml: line 6: unknown key 'rack'", "list.toml"},
  };
  for (const auto& c : cases) {
    std::ofstream(m_dir / c.file) << c.list;
    const Result r = Run(std::string("sequence ") + c.file + " --virtual-time --transport direct --out seq");
    EXPECT_EQ(r.exitCode, 1) << c.list;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.list << "\n" << r.out;
    EXPECT_FALSE(fs::exists(m_dir / "seq")) << c.list;
  }
}

// Interrupted, a sequence says how to go on; a list or method changed since
// is refused by --resume, naming what changed; put back, it goes on.
TEST_F(HostSequenceTest, InterruptedAndResumedUnlessSomethingChanged) {
  WriteFiles(20);
  Result r = Run("sequence list.csv --virtual-time --json --out seq", SIGINT, false, "{\"number\":1,");
  EXPECT_EQ(r.exitCode, 130) << r.out;
  EXPECT_NE(r.out.find(" of 20 samples have ended good. Resume with: quarn-host sequence list.csv --resume seq\n"),
            std::string::npos) << r.out;
  const std::string method = Read(m_dir / "half.toml");
  std::ofstream(m_dir / "half.toml") << method << "# changed\n";
  r = Run("sequence list.csv --virtual-time --resume seq");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("changed since the sequence started: the method file half.toml"), std::string::npos) << r.out;
  std::ofstream(m_dir / "half.toml") << method;
  r = Run("sequence list.csv --virtual-time --resume seq --transport server");
  EXPECT_NE(r.out.find("the sequence in seq started on the direct transport"), std::string::npos) << r.out;
  r = Run("sequence list.csv --virtual-time --resume seq");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("The sequence has ended: 20 of 20 samples good"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  20/20  sequence 30 s of run time left  re-equilibrating"), std::string::npos) << r.out;
  const std::string load = "Loading method ./half.toml...";
  EXPECT_TRUE(r.out.find(load) != std::string::npos && r.out.find(load) == r.out.rfind(load)) << "loaded once: " << r.out;
}

// A folder whose journal is missing, empty or someone else's is refused
// by --resume, naming the journal, and nothing is written into it.
TEST_F(HostSequenceTest, ResumeRefusesAFolderWithoutAJournalItCanRead) {
  WriteFiles(1);
  const std::pair<const char*, const char*> kCases[] = {  // the journal (null: none), what is said
      {nullptr, "cannot resume: there is no journal seq/journal.txt (is the folder a sequence folder?)"},
      {"", "cannot resume: seq/journal.txt is empty: the sequence did not start"},
      {"notes\n", "cannot resume: seq/journal.txt is not a sequence journal"}};
  for (auto [journal, says] : kCases) {
    fs::remove_all(m_dir / "seq");
    fs::create_directory(m_dir / "seq");
    if (journal) std::ofstream(m_dir / "seq" / "journal.txt") << journal;
    const Result r = Run("sequence list.csv --virtual-time --resume seq");
    EXPECT_EQ(r.exitCode, 1) << says;
    EXPECT_NE(r.out.find(says), std::string::npos) << r.out;
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir / "seq"), fs::directory_iterator()), journal ? 1 : 0);
  }
}

}  // namespace
