// What a run records at each poll, and the files made from it.
//
// Contract: a PollRow is one merged reading of every device at one poll.
// CsvHeader/CsvRow and JsonRow give the text of status.csv and of the
// --json output; StatusLineText the terminal's live line. Text fields are
// escaped for their format. Pure functions; any thread.
#pragma once

#include <string>
#include <vector>

#include "contract/inlet_system_status.h"

namespace host {

struct PollRow {
  int poll = 0;                 // 1, 2, ...
  double clockMinutes = 0;      // host clock time since the sample start
  double elapsedMinutes = 0;    // run time reported by the instruments
  int running = 0;              // merged running flag
  int methodRunning = 0;        // the pump's MethodRunning()
  int pumpOn = 0;
  int injecting = 0;
  double flow = 0;              // ml/min
  double pressure = 0;          // bar
  double pressureRise = 0;      // bar since the poll before (0 for the first)
  double percentA = 100, percentB = 0, percentC = 0, percentD = 0;
  double ovenTemperature = 0;   // degrees C
  int lamp = 0;
  int notReady = 0;
  int error = 0;
  std::string notReadyText;
  std::string errorText;
  bool waiting = false;         // taken while waiting for readiness, before the sample start
  bool equilibrating = false;   // ... while the column takes in the new method's starting conditions
};

// A row from one poll: the numbers from the pump's record (which reports
// for every unit), the flags and texts from the merge of every device's.
PollRow RowFromRecords(CInletSystemStatus& pump, CInletSystemStatus& merged);

// Adds one device's reading to `merged` (which starts as the pump's): the
// flags as the status record merges them, except that an error of any
// device counts (the record's own merge keeps one only when every reading
// has one), and the device's not-ready and error texts joined on, so that
// no device's reason is lost.
void AddDeviceReading(CInletSystemStatus& merged, CInletSystemStatus& device);

// True when `row` is worth a line in a log after `previous`: the state
// changed, or a new minute of the run began.
bool IsMilestone(const PollRow& previous, const PollRow& row);

// The events a poll shows against the one before (nullptr: the first):
// a not-ready or error text that appears, changes or goes, the pump
// switched on or off, the injection sequence, the run starting, ending
// and restarting (its clock going back), the lamp. UTF-8, one line each.
// (Outputs and valves are not in the status record: no poll shows them.)
std::vector<std::string> PollEvents(const PollRow* previous, const PollRow& row);

// "run", "waiting" or "equilibrating": the phase column of status.csv.
const char* PhaseText(const PollRow& row);

std::string CsvHeader();
std::string CsvRow(const PollRow& row);
std::string JsonRow(const PollRow& row);
// The live line; a not-ready or error state is named, its text is not
// (the terminal prints the texts on their own lines when they change).
std::string StatusLineText(const PollRow& row);

// Quoting helpers (exposed for tests); they take plug-in text and give
// UTF-8.
std::string CsvField(const std::string& text);
// A UTF-8 text as one CSV cell.
std::string CsvQuoted(const std::string& text);
std::string JsonString(const std::string& text);

}  // namespace host
