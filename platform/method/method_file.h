// Reading method files: human-editable TOML, checked key by key.
//
// Contract:
//  - ParseMethodText takes the bytes of a method file and either fills
//    `method` completely (true; `problems` untouched) or leaves it as it
//    was and appends at least one problem (false). It never throws, never
//    shows anything and never reads files, so a fuzz target or a checking
//    tool can call it on any bytes.
//  - LoadMethodFile does the same for a file on disk, adding the problems
//    of the file itself (missing, a folder, too large, unreadable). The
//    method's file name is set to `path` on success.
//  - DescribeMethodFileProblems renders the text the user is shown: the
//    file, then one line per problem with its line, key and what was
//    expected. At most kMaxShownProblems are listed, then how many more
//    there are (the unlisted ones counted in).
//  - Problems come in line order; each names the key as a dotted path,
//    counting steps of arrays from 1 ("pump.timetable[2].flow"). Every
//    problem of a file is counted, but only the first kMaxCollectedProblems
//    in line order are listed; a last problem without a line then counts
//    the others (`unlisted`). A syntax error ends the reading: it is the
//    only problem, in plain words ("not valid TOML in ...").
//  - `lines`, when given, receives the line of every key of a file that
//    was read (dotted paths as above, tables too), so that a tool can point
//    at what it says about a value.
// The file format is documented in docs/method-files.md.
// Thread safety: no shared state; callable from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/method/quarn_method.h"

struct MethodFileProblem {
  int line = 0;       // from 1; 0 when the problem is not on a line
  int column = 0;     // from 1; 0 when not known
  std::string key;    // dotted key path; empty when the problem has none
  std::string text;   // what is wrong and what was expected
  std::size_t unlisted = 0;  // on the last problem of a cut list: how many were left out
};
using MethodFileProblems = std::vector<MethodFileProblem>;
// Dotted key path -> line (from 1).
using MethodKeyLines = std::map<std::string, int>;

// Files larger than this are refused before parsing: a method file is a
// few kilobytes.
inline constexpr std::size_t kMaxMethodFileBytes = 1024 * 1024;
// The vials and injection volumes (microlitres, above 0) a method file, a
// command line or a sample list may name.
inline constexpr int kMinVial = 1;
inline constexpr int kMaxVial = 10000;
inline constexpr double kMaxInjectionVolume = 1000.0;
// A broken file lists at most this many problems.
inline constexpr std::size_t kMaxCollectedProblems = 100;
inline constexpr std::size_t kMaxShownProblems = 10;

bool ParseMethodText(std::string_view text, QuarnMethod& method, MethodFileProblems& problems,
                     MethodKeyLines* lines = nullptr);
bool LoadMethodFile(const std::string& path, QuarnMethod& method, MethodFileProblems& problems,
                    MethodKeyLines* lines = nullptr);

// One problem as a line of text: "line 4, key 'pump.flow': ...".
std::string DescribeMethodFileProblem(const MethodFileProblem& problem);
CString DescribeMethodFileProblems(const CString& path, const MethodFileProblems& problems);
