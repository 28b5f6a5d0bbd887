// The process-wide download records of the direct path and the values the
// run header is built from.
//
// One analysis file, run header, transfer control and direct command serve
// every direct back-end; the pump's downloads rebuild the analysis file,
// the autosampler's and UV detector's append to it, and the run start and
// the session open push it (LC_PushAnlsFile). The run settings are the
// pump's and the autosampler's kept values that reach the run header.
// Thread safety: host's thread only; the receiving thread never touches
// any of this.
#pragma once

#include <cstdint>

#include "platform/vexlink/download_records.h"

struct DownloadRecords {
  AnlsFile m_anlsFile;
  RunHeader m_runHeader;
  TransferControl m_transferControl;
  DirectCommand m_directCommand;
  // Index of the last unit-list entry written; -1 for none.
  int m_nUnitListIndex = -1;

  // All records zero, the index -1. Tests only.
  void ResetForTesting();
};

extern DownloadRecords g_downloadRecords;

struct DirectRunSettings {
  // The pump's stop time in s, from the initial conditions.
  int m_nStopTimeS = 120;
  // 1 only while the pump starts a run: the run header then carries the
  // pump's stop time and no vial.
  int m_nStarting = 0;
  // The autosampler's kept conditions.
  int m_nVialNumber = 1;
  float m_fInjectionVolumeUl = 1.0f;
  float m_fAnalysisTimeS = 120.0f;
  int m_nFlushCount = 1;

  // The values at load. Tests only.
  void ResetForTesting();
};

extern DirectRunSettings g_directRunSettings;

// A whole number from a method or host value, truncated toward zero as the
// units expect. A value beyond the 32-bit range is held at its end and NaN
// gives 0, so no value can make the conversion undefined.
std::int32_t TruncateToInt32(double value);

// Fills the run header and the transfer control for a push; the analysis
// file and its line counts are left as they are.
void PrepareTransfer();

// Writes unit, time -1, code and p0 of the initial line at the index equal
// to the initial count, then raises the count; the line's other bytes keep
// what they held. Returns false, writing nothing, when the 32 initial
// lines are taken.
bool AppendInitialLine(std::uint16_t unit, std::uint16_t code, std::int32_t p0);

// How many more initial lines fit.
int FreeInitialLines();

// Appends `unit` to the unit list: the unit-list index moves on by one and
// the unit is written at that entry, whether or not it is listed already
// (each sample start lists the autosampler again). Once the index stands at
// the list's last entry the list is full: nothing more is appended, the
// list and the index stay as they are, and the caller carries on, so that
// any number of sample starts can follow one pump download. Returns whether
// the unit was written.
bool AppendUnit(std::uint16_t unit);

// The analysis file the session open pushes: the default pump lines
// (2 ml/min, 300 bar upper and 0 bar lower limit), the pump and the
// autosampler in the unit list, and a prepared run header and transfer
// control. The unit-list index is left as it is.
void BuildSessionAnlsFile();
