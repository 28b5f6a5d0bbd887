// The host program's sequence inputs over arbitrary bytes: a sample list
// (CSV or TOML), a tray file, a sequence journal and a suitability file,
// chosen by the first byte. A tray read without problems names only vials in range, each
// holding a description it has, of positive finite concentrations.
// Beyond not crashing: every problem names the list and holds no control
// character (it is shown on a terminal); a list read without problems
// holds only rows a sequence can run (names and methods trimmed, notes
// with no control character but line breaks, no more samples than the
// limit); a journal is read or refused with a reason that names it; a
// suitability file read without problems holds limits in their ranges and
// lower-case compound names, two at least for a resolution.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/inputs/acceptance_criteria.h"
#include "host/inputs/sample_list.h"
#include "host/inputs/tray.h"
#include "host/outputs/sequence_journal.h"
#include "platform/method/method_file.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool HoldsAControl(const std::string& text, bool lineBreaksToo = true) {
  for (unsigned char c : text) {
    if ((c < 0x20 && (lineBreaksToo || c != '\n')) || c == 0x7F) return true;
  }
  return false;
}

bool Trimmed(const std::string& text) {
  return text.find_first_of(" \t") != 0 && (text.empty() || text.find_last_of(" \t") != text.size() - 1);
}

void CheckList(const std::string& text, const char* name) {
  const host::SampleList list = host::ParseSampleList(text, name);
  for (const std::string& problem : list.problems) {
    Require(problem.rfind(std::string(name) + ": ", 0) == 0);
    Require(!HoldsAControl(problem));
  }
  if (!list.problems.empty()) return;
  Require(!list.rows.empty() && list.rows.size() <= static_cast<std::size_t>(host::kMaxSampleRows));
  long long samples = 0;
  for (const host::SampleRow& row : list.rows) {
    Require(!row.name.empty() && !HoldsAControl(row.name) && !row.method.empty());
    Require(Trimmed(row.name) && Trimmed(row.method) && !HoldsAControl(row.note, false));
    samples += row.injections;
    Require(row.vial >= kMinVial && row.vial <= kMaxVial);
    Require(std::isfinite(row.volumeUl) && row.volumeUl > 0 && row.volumeUl <= kMaxInjectionVolume);
    Require(row.injections >= 1 && row.injections <= host::kMaxInjectionsPerRow);
  }
  Require(samples <= host::kMaxListSamples);
}

void CheckTray(const std::string& text) {
  const host::Tray tray = host::ParseTray(text, "fuzz.tray.toml");
  for (const std::string& problem : tray.problems) {
    Require(problem.rfind("fuzz.tray.toml: ", 0) == 0);
    Require(!HoldsAControl(problem));
  }
  if (!tray.problems.empty()) return;
  for (const auto& [vial, name] : tray.vials) {
    Require(vial >= 1 && vial <= host::kMaxTrayVial && tray.For(vial) != nullptr);
  }
  for (const auto& [name, sample] : tray.samples) {
    for (const auto& [compound, mgPerL] : sample.compounds) {
      Require(std::isfinite(mgPerL) && mgPerL > 0 && mgPerL <= host::kMaxConcentrationMgL);
    }
  }
}

void CheckCriteria(const std::string& text) {
  const host::AcceptanceCriteria criteria = host::ParseAcceptanceCriteria(text, "fuzz.suitability.toml");
  for (const std::string& problem : criteria.problems) {
    Require(problem.rfind("fuzz.suitability.toml: ", 0) == 0);
    Require(!HoldsAControl(problem));
  }
  if (!criteria.problems.empty()) return;
  Require(criteria.bracketDriftPercent > 0 && criteria.bracketDriftPercent <= 100);
  for (const host::SuitabilityCriterion& c : criteria.suitability) {
    Require(std::isfinite(c.limit) && c.limit > 0);
    Require(c.kind != host::CriterionKind::kResolution || c.compounds.empty() || c.compounds.size() >= 2);
    for (const std::string& compound : c.compounds) {
      Require(!compound.empty() && !HoldsAControl(compound));
      for (char ch : compound) Require(ch < 'A' || ch > 'Z');
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 8) {
    case 0: CheckList(text, "fuzz.csv"); break;
    case 1: CheckList(text, "fuzz.toml"); break;
    case 3: case 7: CheckTray(text); break;
    case 4: case 5: case 6: CheckCriteria(text); break;
    default: {
      std::string error;
      const auto journal = host::ParseJournal(text, "journal.txt", error);
      Require(journal || error.rfind("journal.txt ", 0) == 0);
    }
  }
  return 0;
}
