// A sample list: the rows of a sequence as a lab keeps them in a
// spreadsheet, read from CSV (a header row names the columns) or, for a
// file named *.toml, TOML (one [[sample]] table per row, its keys the
// columns).
//
// Columns (case does not matter): sample, method, vial, volume (µl) are
// required; injections (from the vial, default 1), action (RowAction),
// minutes (an equilibration's), note, contents (a sample description
// of the tray file, for the vial instead of the tray's own; host/inputs/tray.h),
// type (SampleType, an injection's) and level (a standard's) are optional.
// A method file is named relative to the list's folder. CSV takes ',' or
// ';' between cells (the header row tells which), double quotes around a
// cell that holds the separator, a quote or a line break, a UTF-8
// byte-order mark, blank lines and lines starting with '#' (comments).
// A sample name and a method file are trimmed of blanks around them (a
// quoted cell's too), so that " std-1 " and "std-1" are one sample. A note
// may hold line breaks ("\r\n" read as "\n"); no other control character
// is taken, and none at all in a name.
// Everything wrong is reported, each problem with the list's file name
// and line.
// Pure functions apart from reading the file; any thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace host {

// What a row does. Only an injection takes a vial, a volume and
// injections; the other rows may leave those cells empty.
//  - inject: the method's run after an injection (the default);
//  - blank: the method's run with no injection (the pump starts it);
//  - equilibrate: the method's starting conditions pumped for `minutes`;
//  - shutdown: the last row of a list: the pump at its method's starting
//    conditions (a standby flow) or, without a method, off; the oven and
//    the UV lamp off. It also runs when the sequence stops on a failure.
enum class RowAction { kInject, kBlank, kEquilibrate, kShutdown };
const char* RowActionName(RowAction action);

// What an injection is, for the lab's results (host/running/calibration.h,
// host/running/suitability.h). Only an injection has a type: a row that
// injects nothing (RowAction other than kInject) takes none, and an
// action=blank row (a run without an injection) is not a type=blank one
// (an injection from a vial of blank solvent).
//  - unknown: a sample to be quantified (the default);
//  - blank: an injection of a blank;
//  - standard: a calibration standard, with its `level`; before the
//    first unknown of its method it is a point of the calibration line,
//    after one a bracketing standard checked against the line;
//  - suitability: a system-suitability injection; a run of them is a
//    block, checked against the criteria when the sequence reaches a row
//    that is not one.
enum class SampleType { kUnknown, kBlank, kStandard, kSuitability };
const char* SampleTypeName(SampleType type);

struct SampleRow {
  int line = 0;               // in the list file, from 1
  std::string name;           // UTF-8
  std::string method;         // as written, trimmed
  std::filesystem::path methodPath;  // resolved against the list's folder
  int vial = 0;
  double volumeUl = 0;
  int injections = 1;
  RowAction action = RowAction::kInject;
  double minutes = 0;         // an equilibration's
  std::string note;           // UTF-8; may hold "\n": escape it to print it
  std::string contents;       // a sample description's name; "" for what the tray holds in the vial
  SampleType type = SampleType::kUnknown;  // an injection's; kUnknown for a row that injects nothing
  std::string level;          // a standard's level, a label ("1", "low"); "" for every other row
};

struct SampleList {
  std::vector<SampleRow> rows;
  std::vector<std::string> problems;  // "list.csv: line 4: ..." each
};

// The most rows a list may hold, and injections a row may ask for.
inline constexpr int kMaxSampleRows = 10000;
inline constexpr int kMaxInjectionsPerRow = 1000;
// The most samples a whole list may run, every row's injections counted:
// weeks of runs, and what a sequence's plan, journal and chart are sized for.
inline constexpr int kMaxListSamples = 10000;

SampleList ReadSampleList(const std::filesystem::path& file);
// The same from text already read; `name` is what problems start with.
SampleList ParseSampleList(const std::string& text, const std::filesystem::path& file);

}  // namespace host
