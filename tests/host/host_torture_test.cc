// Sample lists of small methods on either transport, mostly with a fault on demand, killed at random instants,
// resumed (and killed again), then resumed to their end; checked against what the simulators recorded.
// QUARN_TORTURE_ROUNDS, _SEED and _FIRST (the first round) choose the rounds: a round's lists, faults and kill
// points follow from the seed, the instants (wall time) roughly. scripts/torture.sh runs many more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <vector>

#include "tests/host/host_program.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::vector<std::string> Split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, at);) parts.push_back(part);
  return parts;
}
bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }
#if !defined(QUARN_TORTURE_DEFAULT_ROUNDS)
#define QUARN_TORTURE_DEFAULT_ROUNDS 150  // about 250 kills and 120 faults
#endif
unsigned long Env(const char* name, unsigned long unset) { return getenv(name) ? std::stoul(getenv(name)) : unset; }

// What a trace shows, in order: the instruments opened, an injection (from a vial), a run's end, a trip.
enum Kind { kOpen, kInject, kRunEnd, kTrip };
std::vector<std::pair<Kind, int>> TraceEvents(const std::string& text, bool server) {
  std::vector<std::pair<Kind, int>> events;
  int vial = 0;
  for (const std::string& l : Split(text, '\n')) {
    if (const std::size_t at = l.find(server ? "Sequence.SetVial(" : "first_sample_no="); at != std::string::npos)
      vial = std::atoi(l.c_str() + at + (server ? 17 : 16));
    if (Has(l, server ? "CoCreateInstance()" : "hThread=")) events.emplace_back(kOpen, 0);
    if (Has(l, server ? "\"Injected\")" : "InjectedInfo Reply")) events.emplace_back(kInject, vial);
    if (Has(l, server ? "\"Run ended\")" : "--> ANLSTIME_END")) events.emplace_back(kRunEnd, 0);
    if (Has(l + "\n", server ? "ErrorEvent(" : "--> TROUBLE\n")) events.emplace_back(kTrip, 0);
  }
  return events;
}

using HostTortureTest = testing_support::HostProgramTest;

TEST_F(HostTortureTest, SequencesKilledAndResumedAtRandomKeepTrueRecords) {
  const unsigned long rounds = Env("QUARN_TORTURE_ROUNDS", QUARN_TORTURE_DEFAULT_ROUNDS);
  const unsigned long seed = Env("QUARN_TORTURE_SEED", 20261207);
  const fs::path seq = m_dir / "seq";
  std::ofstream(m_dir / "sentinel") << "not the program's";
  int kills = 0, faults = 0;
  for (unsigned long round = Env("QUARN_TORTURE_FIRST", 0), end = round + rounds; round < end; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    std::seed_seq seeds{seed, round};
    std::mt19937 random(seeds);
    const auto pick = [&random](int low, int high) { return low + static_cast<int>(random() % (high - low + 1)); };
    // Two or three methods, and a list whose rows each have a vial of their own (an injection names its row).
    std::vector<double> stopMin(pick(2, 3));
    for (std::size_t m = 0; m < stopMin.size(); ++m) {
      std::ofstream method(m_dir / ("m" + std::to_string(m) + ".toml"));
      stopMin[m] = pick(6, 20) * 0.05;
      method << "[pump]\nflow = " << pick(4, 8) * 0.125 << "\nmax_pressure = 600\nstop_time = " << stopMin[m] << "\n";
      if (pick(0, 5)) method << "[column]\nlength_mm = " << pick(2, 5) * 10 << "\ndiameter_mm = 2.1\nparticle_um = 3\n";
      if (!pick(0, 3)) method << "[oven]\ntemperature = " << pick(30, 34) << "\n";
    }
    std::vector<int> methodOf;  // by sample number - 1
    std::ostringstream list;
    list << "sample,method,vial,volume,injections\n";
    for (int row = 1, total = pick(3, 6); std::ssize(methodOf) < total; ++row) {
      const int m = pick(0, std::ssize(stopMin) - 1),
                injections = total - std::ssize(methodOf) > 1 && !pick(0, 3) ? 2 : 1;
      list << "s" << row << ",m" << m << ".toml," << row * 7 << ",2," << injections << "\n";
      methodOf.insert(methodOf.end(), injections, m);
    }
    std::ofstream(m_dir / "list.csv") << list.str();
    const int samples = std::ssize(methodOf);
    const bool server = pick(0, 1), stopPolicy = pick(0, 1), hasFault = pick(0, 9);
    const std::string traceName = server ? "server-calls.log" : "wire-trace.log";
    // A fault for a random sample at a random minute (-1: at once; the last kind acts as the instruments open).
    static const char* const kFaults[2][6] = {{"pump-overpressure", "trouble-event", "node-state:8", "node-state:7",
                                               "autosampler-never-ready", "driver-missing"},
                                              {"pump-overpressure", "error-event", "node-state:9",
                                               "autosampler-never-ready", "netbox-silent", "unit-never-connects:pump"}};
    const int kind = pick(0, 5), faultSample = kind == 5 ? 1 : pick(1, samples);
    const double faultMin = kind == 5 || (faultSample == 1 && pick(0, 1)) ? -1 : pick(0, 24) * 0.05;
    const std::string fault = " --fault " + std::to_string(faultSample) + ":" + kFaults[server][kind] +
                              (faultMin < 0 ? "" : "@" + std::to_string(faultMin));
    // Killed once, resumed and killed up to twice more (with or without the fault), then resumed to the
    // end without it. A leg is known by the journal's start lines and the trace's size after it.
    struct Leg { std::size_t starts, traceBytes; bool faulted; };
    std::vector<Leg> legs;
    testing_support::Result last;
    for (int leg = 0, killed = pick(1, 3), ends = 0; leg <= killed; ++leg) {
      const bool fresh = !Has(Read(seq / "journal.txt"), "\nlist\t");  // killed before the journal said anything
      if (fresh) fs::remove_all(seq), legs.clear();
      const bool faulted = hasFault && leg < killed && (fresh || pick(0, 1));
      const std::string args = "sequence list.csv --virtual-time --trace --json --on-error " +
                               (stopPolicy ? "stop"s : "skip"s) + (faulted ? fault : "") +
                               (fresh ? " --out seq --transport "s + (server ? "server" : "direct") : " --resume seq"s);
      if (leg < killed) kills += StartAndKill(args, pick(0, std::max(0, samples - ends - 1)), pick(0, 20000));
      if (leg == killed) last = Run(args);
      std::size_t starts = 0;
      ends = 0;
      for (const std::string& l : Split(Read(seq / "journal.txt"), '\n'))
        starts += l.rfind("start\t", 0) == 0 && Split(l, '\t').size() == 4, ends += l.rfind("end\t", 0) == 0;
      legs.push_back({starts, fs::exists(seq / traceName) ? fs::file_size(seq / traceName) : 0, faulted});
    }
    // sequence.csv: a row per start line of the journal, in order; a row's folder is there, and is its alone.
    std::vector<std::vector<std::string>> rows;
    for (const std::string& l : Split(Read(seq / "sequence.csv"), '\n')) rows.push_back(Split(l, ','));
    if (rows.size() != legs.back().starts + 1) {
      ADD_FAILURE() << "sequence.csv's rows are not the journal's attempts\n" << last.out;
      fs::remove_all(seq);
      continue;
    }
    rows.erase(rows.begin());
    std::map<int, std::size_t> lastRow;
    std::set<std::string> folders;
    for (std::size_t a = 0; a < rows.size(); ++a) {
      const int n = std::stoi(rows[a].at(0));
      const std::string &folder = rows[a].at(7), &result = rows[a].at(10);
      EXPECT_FALSE(lastRow.count(n) && rows[lastRow[n]][10] == "good") << "sample " << n << " ran again";
      const std::regex setAside("|.*\\.(interrupted|failed)(-[0-9]+)?");  // an earlier attempt's folder, if any
      EXPECT_TRUE(!lastRow.count(n) || std::regex_match(rows[lastRow[n]][7], setAside)) << rows[lastRow[n]][7];
      lastRow[n] = a;
      EXPECT_TRUE(folder.empty() || (fs::is_directory(seq / folder) && folders.insert(folder).second)) << folder;
      const std::string logbook = result == "good" ? Read(seq / folder / "logbook.txt") : "";
      EXPECT_FALSE(Has(logbook, "injected fault") || Has(logbook, " min  error: ")) << folder << ":\n" << logbook;
      // A fault due while its sample's run went on leaves that attempt not good.
      const auto leg = std::upper_bound(legs.begin(), legs.end(), a, [](auto i, const Leg& l) { return i < l.starts; });
      if (!leg->faulted || n != faultSample) continue;
      ++faults;
      EXPECT_FALSE(result == "good" && faultMin < stopMin[methodOf[n - 1]] - 0.02) << folder << fault;
    }
    // Every sample ends with a row (under stop, up to one that did not end good); the exit code says if all are.
    bool allGood = true;
    for (int n = 1; n <= samples; ++n) {
      EXPECT_TRUE(lastRow.count(n) || (!allGood && stopPolicy)) << "sample " << n << " has no row";
      allGood = allGood && lastRow.count(n) && rows[lastRow[n]][10] == "good";
      EXPECT_FALSE(lastRow.count(n) && rows[lastRow[n]][10] == "interrupted") << "sample " << n;
    }
    EXPECT_EQ(last.exitCode == 0, allGood) << last.out;
    // No folder that sequence.csv does not list; nothing written beside the list, nor into it.
    const std::regex own("journal.txt|sequence.(csv|svg)|report.html|" + traceName),
        mine("seq|list.csv|sentinel|registry.reg.*|m.\\.toml");
    for (const auto& e : fs::directory_iterator(seq))
      EXPECT_TRUE(folders.count(e.path().filename()) || std::regex_match(e.path().filename().string(), own))
          << e.path();
    for (const auto& e : fs::directory_iterator(m_dir))
      EXPECT_TRUE(std::regex_match(e.path().filename().string(), mine)) << e.path();
    EXPECT_EQ(Read(m_dir / "sentinel"), "not the program's");
    // Each injection the simulator made belongs, in order, to an attempt of its leg from its vial: every
    // record that claims one gets one, none that says there was none does (one that does not know, or was
    // killed before it was written, may); a good attempt shows no trip from the last run's end (or the
    // opening) to its own run's end.
    const std::string trace = Read(seq / traceName);
    const auto vial = [&](std::size_t a) { return std::stoi(rows[a].at(4)); };
    const auto claims = [&](std::size_t a) {  // 2: injected, 1: not known (or killed before its record), 0: none
      const fs::path record = seq / rows[a][7] / "experiment-record.txt";
      if (rows[a][7].empty() || !fs::exists(record)) return rows[a][7].empty() ? 0 : 1;
      return Has(Read(record), "Injection Volume") ? 2 : Has(Read(record), ", injection not known (") ? 1 : 0;
    };
    for (std::size_t leg = 0, first = 0, from = 0; leg < legs.size();
         first = legs[leg].starts, from = legs[leg++].traceBytes) {
      const auto events = TraceEvents(trace.substr(from, legs[leg].traceBytes - from), server);
      std::vector<std::size_t> injects;
      for (std::size_t e = 0; e < events.size(); ++e)
        if (events[e].first == kInject) injects.push_back(e);
      const std::size_t n = legs[leg].starts - first, m = injects.size();
      std::vector<int> claim(n);
      for (std::size_t a = 0; a < n; ++a) claim[a] = claims(first + a);
      const auto takes = [&](std::size_t i, std::size_t a) {
        return claim[a] > 0 && vial(first + a) == events[injects[i]].second;
      };
      // fits[i][a]: injections i.. can go to attempts a.. in order.
      std::vector<std::vector<char>> fits(m + 1, std::vector<char>(n + 1, 0));
      for (std::size_t i = m + 1; i-- > 0;)
        for (std::size_t a = n + 1; a-- > 0;)
          fits[i][a] = a == n ? i == m
                              : (claim[a] < 2 && fits[i][a + 1]) || (i < m && takes(i, a) && fits[i + 1][a + 1]);
      if (!fits[0][0]) {
        std::string seen;
        for (const std::size_t e : injects) seen += " " + std::to_string(events[e].second);
        seen += "; records (2 injected, 1 not known, 0 none):";
        for (std::size_t a = 0; a < n; ++a) seen += " " + rows[first + a][4] + "/" + std::to_string(claim[a]);
        ADD_FAILURE() << "leg " << leg << ": the injections do not match the records; vials injected:" << seen;
        continue;
      }
      for (std::size_t i = 0, a = 0, open = 0; i < m; ++a) {
        if (!takes(i, a) || !fits[i + 1][a + 1]) continue;
        for (std::size_t e = open; e < injects[i]; ++e) open = events[e].first == kOpen ? e : open;
        std::size_t stop = injects[i] + 1;
        while (stop < events.size() && events[stop].first == kTrip) ++stop;
        for (auto k = open; k < stop && rows[first + a][10] == "good"; ++k)
          EXPECT_NE(events[k].first, kTrip) << rows[first + a][7];
        open = stop, ++i;
      }
    }
    if (!getenv("QUARN_KEEP_TEST_FOLDER")) fs::remove_all(seq);
  }
  std::printf("torture: %lu rounds, %d kills, %d faults, seed %lu\n", rounds, kills, faults, seed);
}

}  // namespace
