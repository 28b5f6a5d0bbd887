// CQuarnPump: the pump back-end that drives the pumps (and, through the
// pump's method, the column oven) directly over the instrument network
// (CBasePump, backend/backend_interfaces.h).
//
// Ownership: it owns the process-wide driver session
// (network/vexlink_session.h): InitialiseComms opens it and the destructor
// closes it. Everything else it keeps is process-wide as well, because the
// autosampler and UV back-ends work on the same records: the download
// records (network/download_state.h), the pump's kept method values
// (DirectPumpState) and the run flags (DirectRunFlags).
//
// Downloads: DownloadInitialConditions rebuilds the analysis file from the
// method's initial conditions and sends the pump and oven their settings at
// once; DownloadTimetable appends the gradient. A gradient longer than the
// timetable holds is refused with a message box and a 0 result, before
// anything is sent or changed, so the method loaded before stays whole.
// The network has no channel D: A takes whatever B and C leave, a share
// of D included.
//
// Run control: a run starts by pushing the analysis file and restarting
// the units' program (StartAnalysis, shared with the autosampler back-end).
// ReadStatus asks five units for their status, sleeps one second while the
// receiving thread stores the replies, and fills the host's record from
// the snapshot for all units. While the session is not open the run-control
// and status operations send nothing.
//
// Errors: a CCommunicationsException raised inside a download or a pump
// switch is shown with the pump's communications heading and thrown on
// carrying that text.
// Thread safety: host's thread only.
#pragma once

#include <cstdint>

#include "backend/backend_interfaces.h"
#include "backend/unit_comms_message.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"

// The pump's values kept from one download to the next.
struct DirectPumpState {
  // Solvents A to D in use, from the last download's solvent selection.
  int m_nSolventInUse[4] = {0, 0, 0, 0};
  // The method's pump system setting; SystemCode() derives from it.
  int m_nPumpSystem = 0;
  int m_nOvenInUse = 0;
  float m_fOvenTarget = 0.0f;  // degrees C; 0 when the oven is not in use
  // The last maximum pressure taken, bar: the timetable's default limit.
  int m_nUpperPressureLimit = 300;
  // Set until the first initial-conditions download: that one takes the
  // method's stop time even when it is 0.
  int m_nFirstDownload = 1;
  // Sorted copy of the last gradient downloaded.
  PumpGradient m_KeptGradient;

  // 0x200 for two pumps, 0x10 for one pump with four channels, 0x300 for
  // three pumps, 1 (no composition, no timetable) for anything else.
  std::uint32_t SystemCode() const;

  // The values at load. Tests only.
  void ResetForTesting();
};

extern DirectPumpState g_directPumpState;

// The run state the status polls keep, and the not-ready text.
struct DirectRunFlags {
  int m_nPumpOn = 0;
  int m_nRunning = 0;
  int m_nPostRunning = 0;  // always 0
  // Up from a sample start until its run is over (see UpdateSamplerInjecting
  // in quarn_pump.cc); MethodRunning and the autosampler's Injecting read it.
  int m_nSamplerInjecting = 0;
  // Whether a poll has seen the sample's run since the start, and when the
  // start was sent (C run-time clock, ms).
  int m_nSampleRunSeen = 0;
  crt::clock_t m_tSampleStart = 0;
  CString m_strNotReady;

  // The values at load. Tests only.
  void ResetForTesting();
};

extern DirectRunFlags g_directRunFlags;

// Runs `body` and returns its result; a CCommunicationsException on the way
// is shown to the user under the pump's communications heading and thrown
// on with that text.
template <class Body>
int RunWithPumpCommsMessage(Body&& body) {
  try {
    return body();
  } catch (CCommunicationsException& e) {
    e.SetText(SendUnitCommsMessage("PUMP", e.GetErrorMessage()));
    throw;
  }
}

class CQuarnPump : public CBasePump {
 public:
  CQuarnPump();
  ~CQuarnPump() override;

  int InitialiseComms() override;
  void Initialise() override {}
  int DownloadInitialConditions(QuarnMethod& method) override;
  int DownloadTimetable(QuarnMethod& method) override;
  // The method's timed events and initial event states are not carried on
  // the direct network.
  int DownloadEvents(QuarnMethod& method) override;
  int DownloadInitialEvents(QuarnMethod&) override { return 1; }
  int Run() override { return 1; }
  int MethodRunning() override;
  int StopMethod() override;
  int StartMethod() override;
  int SwitchPump(Switch value) override;
  int ReadStatus(CInletSystemStatus& status) override;
  void CloseDownComms() override {}
  void ClearMethod() override {}

  // Starts a run: stop, reset, push of the analysis file with a prepared
  // run header, reset-run. The run header carries the pump's stop time
  // while the pump starts (the starting flag), else the autosampler's vial
  // and analysis time, and the start then counts as a sample start for the
  // sampler-injecting flag. Sends nothing while the session is not open.
  static void StartAnalysis();

  // 1 when the oven is in use and its temperature lies outside 5 % of the
  // target, with the not-ready text set to say so; else 0 and the text
  // empty.
  static int CheckOvenReady();

  // The analysis file emptied for a new pump method: counts 0, header
  // words, every initial line blank, the unit list holding the pumps of the
  // system code (and the oven when in use). Timetable lines are left; the
  // count decides what is sent.
  static void ResetAnlsFile();
  // The initial lines of `cons` for the pumps and the oven, and the pump's
  // direct command words.
  static void BuildInitialLines(const PumpInitialCons& cons);
  // Three timetable lines per step (flow, pressure limit, composition),
  // appended behind the lines already counted; none for system code 1.
  // REQUIRES: the steps fit behind the lines already counted (the
  // gradient was checked before anything changed).
  static void BuildTimetableLines(const PumpGradient& gradient);
};
