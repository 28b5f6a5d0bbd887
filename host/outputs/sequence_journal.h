// journal.txt: a sequence's journal, the record `--resume` continues from.
//
// One line per event, fields separated by tabs, each line handed to the
// system before the sequence goes on, and the lines that record a result
// on the disk (a kill at any moment leaves every line but perhaps a torn
// last one, which is not read):
//   quarn-host sequence journal 1
//   list    PATH  FINGERPRINT              the sample list as started
//   transport  NAME                        the transport it runs on
//   method  PATH  FINGERPRINT              each method file it names
//   criteria  PATH  FINGERPRINT            the suitability file, for a list with
//                                          standards or suitability injections
//   start   N  FOLDER  CLOCK               sample N began in FOLDER
//   end     N  RESULT  FOLDER  CLOCK  PEAK_BAR  OUTCOME  [INJECTED_MIN  BAR  OVEN_C  WAITED_MIN  EQUILIBRATED_ML]
//                                          ... and ended (RESULT good, failed or not-ready:
//                                          injected before the instruments were ready);
//                                          the bracketed fields are the readings at the
//                                          injection ("" where none), the wait before it
//   kept    N  FOLDER  AS                  a resume sets an unfinished sample's folder
//                                          aside (written before the folder moves)
//   suitability  FIRST  LAST  RESULT  TEXT the system suitability of samples FIRST to
//                                          LAST checked: pass or fail, and each
//                                          criterion (for the reader; a resume works
//                                          it out again from the samples' records)
// Text fields have tabs, line breaks and backslashes escaped.
// Thread safety: host's thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host {

// A fingerprint of a file's bytes (64-bit FNV-1a, hex), or "missing".
std::string FileFingerprint(const std::filesystem::path& file);
// The same of bytes already read.
std::string TextFingerprint(const std::string& bytes);

struct JournalSample {
  int number = 0;
  std::string folder;
  std::string started, ended;  // local clock times
  bool hasEnded = false;
  bool good = false;
  std::string peakBar;  // "" when none was read
  std::string outcome;
  std::string result;   // "good", "failed" or "not-ready"
  // At the injection: the instrument clock, minutes; the pressure, bar;
  // the oven, °C (each "" when not read); and the wait before it.
  std::string injectedMinutes, injectedBar, injectedOvenC, waitedMinutes, equilibratedMl;
};

struct JournalContents {
  std::string listPath, listFingerprint;
  std::string transport;  // "direct" or "server"
  std::map<std::string, std::string> methods;  // path -> fingerprint
  std::string criteriaPath, criteriaFingerprint;  // "" when the list used none
  // Every attempt in order: a resumed sample has two or more.
  std::vector<JournalSample> attempts;
};

// Reads a journal; nullopt with `error` set when it is not one.
std::optional<JournalContents> ReadJournal(const std::filesystem::path& file, std::string& error);
// The same from the journal's text; `file` names it in the error.
std::optional<JournalContents> ParseJournal(const std::string& text, const std::filesystem::path& file,
                                            std::string& error);

class Journal {
 public:
  ~Journal();
  // Creates a new, empty journal (then Begin) or opens one to go on
  // with; false when it cannot be written.
  bool Open(const std::filesystem::path& file, bool create);
  // A new journal's first lines, written and put on the disk at once: a
  // kill leaves all of them or an empty journal, never a header in part.
  bool Begin(const std::vector<std::vector<std::string>>& lines);
  // Writes one line of `fields`; with `sync` waits until it is on the
  // disk (else it is handed to the system, which keeps it through a kill
  // of this process but not through a power cut).
  bool Write(const std::vector<std::string>& fields, bool sync = true);

 private:
  static std::string Line(const std::vector<std::string>& fields);
  bool Put(const std::string& text, bool sync);

  std::FILE* m_file = nullptr;
};

}  // namespace host
