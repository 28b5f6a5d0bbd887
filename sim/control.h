// The simulator's control face: everything the host program, the tests
// and the fault matrix set in the simulated instruments beside what the
// product sees of them. The clock's scheduled faults, the column and the
// solvents, the units' presence and timing, the node's and the server's
// failures, the logs. The product never sees it: it reaches the
// instruments only through the driver library and the server's COM
// interfaces.
//
// The one way in from outside the simulators, so that where they live is
// this interface's business alone: InProcessControl() acts on the
// simulators of this process, and the simulators' library exports it as
// QuarnSimulatorControl, so that a program that does not link them finds
// them where they are loaded (beside the simulated driver library), and
// knows the instruments are real where they are not. A control for simulators in another process
// implements the same members over the process boundary; every argument
// is a plain value for that reason (the trace sink and the scheduled
// actions stay in the caller's process).
//
// Thread safety: every member may be called from any thread, as the
// simulators' own members.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/tavix/tavix.h"
#include "sim/hydraulics.h"
#include "sim/instrument_model.h"
#include "sim/separation.h"
#include "sim/solvents.h"

namespace sim {

// Which simulator a setting is for: the instrument network the direct
// transport drives, or the instrument server.
enum class Side { kNetwork, kServer };

class Control {
 public:
  virtual ~Control() = default;

  // ---- Setting up ----
  // The simulated server can be created by the plug-in (CoCreateInstance)
  // and its type library loaded.
  virtual void RegisterServer() = 0;
  // What the bottles of channels A to D hold, from their labels
  // (sim/solvents.h); kept across opens until the next call.
  virtual void FillBottles(Side side, const BottleLabels& labels) = 0;
  // The column, dwell volume and pump dynamics (sim/hydraulics.h).
  virtual void FitHydraulics(Side side, const Hydraulics& hydraulics) = 0;
  // Off: calls and replies are not kept, so a long run's memory stays flat.
  virtual void KeepLogs(Side side, bool keep) = 0;
  // Every call the server receives and every event it sends, one line
  // each, to `sink` on the thread that made it (it must not call the
  // server); nullptr: nowhere.
  virtual void TraceServer(std::function<void(const std::string& line)> sink) = 0;
  // Lets go of simulators that run in another program (which ends once no
  // one holds it); the next call reaches them again. For the simulators of
  // this process: renews a server that was ended (EndServer), else nothing.
  virtual void Disconnect() = 0;
  // Where the simulated server runs when that is a program of its own, as
  // "TavixServer.exe (process 1234)"; "" when it runs in this process.
  virtual std::string ServerProgram() { return ""; }
  // Why the server the plug-in uses is gone ("TavixServer.exe (process
  // 1234) ended"), or "" while it is there. Cheap enough for every poll.
  virtual std::string ServerLost() { return ""; }

  // ---- The samples and what the detectors recorded ----
  // Vial `vial` of the autosampler's tray holds `contents` (compounds by
  // name, mg/l; sim/separation.h); empty: the vial is taken off the tray,
  // and a run from it records a baseline. Kept until the next call for
  // the vial.
  virtual void PlaceSample(Side side, int vial, const SampleContents& contents) = 0;
  // The names of the compounds a sample can hold (sim/compounds.h).
  virtual std::vector<std::string> CompoundNames() = 0;
  // What the UV and PDA detectors recorded in the last run (or the run
  // going on, up to now): the UV's samples from `fromSample` and the
  // peaks from `fromPeak` on, so that a reader takes each once.
  virtual DetectorRecording Recording(Side side, std::size_t fromSample, std::size_t fromPeak) = 0;

  // ---- Faults on the network ----
  // Opening the network fails, as when the driver is missing.
  virtual void SetDriverMissing(bool missing) = 0;
  // The unit at `address` does not answer and is not in the node's list.
  virtual void SetNetworkUnitAbsent(std::uint16_t address) = 0;
  // The autosampler never reports ready and never answers.
  virtual void SetAutosamplerSilent(bool silent) = 0;
  // The node reports `state` (7, 8 or 9: needs a reset) until it is reset.
  virtual void SetNodeState(std::uint32_t state) = 0;
  // A trouble event from `unit` now.
  virtual void SendTrouble(std::uint16_t unit, std::uint16_t what) = 0;

  // ---- Faults on the server ----
  // Every call of `operation` ("Session.StartRun", "CoCreateInstance")
  // from now on returns `hr`.
  virtual void FailServerCall(const std::string& operation, HRESULT hr) = 0;
  // GetUnit of this unit fails.
  virtual void SetServerUnitAbsent(LONG type, SHORT number) = 0;
  // The unit reports itself present `presentAfterMs` after the session
  // was made, connected after `connectedAfterMs`; -1: never.
  virtual void SetServerUnitTiming(LONG type, SHORT number, std::int64_t presentAfterMs,
                                   std::int64_t connectedAfterMs) = 0;
  // The network box gives an empty identification.
  virtual void SetNetBoxSilent(bool silent) = 0;
  // The network box reports `state` until 0 is set again.
  virtual void SetNetBoxState(LONG state) = 0;
  // The autosampler reports `state` until -1 is set.
  virtual void SetSamplerState(LONG state) = 0;
  // An error event now, from the server's event thread.
  virtual void SendErrorEvent(SHORT unitType, SHORT subCode, SHORT errorBits, const std::string& text) = 0;
  // The server ends now: its own program exits, and this returns once it
  // has; a server in this process stops answering instead (every call
  // fails as a call to an ended program does, no event comes) until the
  // next run renews it.
  virtual void EndServer() = 0;

  // ---- Faults on either ----
  // The pumps' next limit check while they deliver trips pump 1 above its
  // upper limit.
  virtual void BlockLine(Side side) = 0;
  // The column loses efficiency: its plate height is `factor` times its
  // own (1: as new) for what moves through it from now on, until the
  // next call; the simulators keep it across runs and column changes.
  virtual void DegradeColumn(Side side, double factor) = 0;

  // ---- What the simulators make of a method (they keep nothing) ----
  // Whether a label names a solvent or premix the simulators know, or an
  // aqueous buffer (simulated as water).
  virtual bool KnowsSolvent(const std::string& label) = 0;
  struct SolventReading {
    std::string simulatedAs;  // "water", "acetonitrile/water 90:10"
    LabelReading reading = LabelReading::kNamed;
  };
  // What channels A to D are simulated as, from their labels.
  virtual std::array<SolventReading, kChannelCount> ReadSolventLabels(const BottleLabels& labels) = 0;
  // The steady pressure, bar, of a flow and mixture at a column
  // temperature, bottles filled from `labels`, across `column` (without
  // one, the simulators' fixed column).
  virtual double PressureBar(double flowUlMin, const Composition& composition, double columnC,
                             const BottleLabels& labels, const std::optional<Column>& column) = 0;

  // What a run of `program` gives, as a host runs it on instruments just
  // switched on: the pumps start at its starting conditions with the oven
  // at ambient, the sample is injected once the oven is within 1 C of its
  // set point (or after 30 min), and the run goes to its end. Bottles from
  // `labels`, the liquid path `hydraulics`, the program's vial holding
  // `contents`. Made on instruments of its own: the simulators' are not
  // touched.
  struct Prediction {
    double maxBar = 0.0;
    double maxAtMin = 0.0;   // run time of the highest pressure; negative: before the injection
    double waitedMin = 0.0;  // from the pumps' start to the injection
    std::vector<RecordedPeak> peaks;
  };
  virtual Prediction Predict(const Program& program, const BottleLabels& labels,
                             const Hydraulics& hydraulics, const SampleContents& contents) = 0;

  // ---- The clock ----
  // Runs `action` once when the clock reaches `atMs` (on the thread that
  // moves the clock there); its number for the two below.
  virtual int ScheduleAt(std::int64_t atMs, std::function<void()> action) = 0;
  // When action `id` ran; nullopt while it waits.
  virtual std::optional<std::int64_t> ScheduledRanAt(int id) = 0;
  // Action `id` will not run.
  virtual void CancelScheduled(int id) = 0;
};

// The simulators of this process; lives until the process ends.
Control& InProcessControl();

}  // namespace sim

// InProcessControl(), under a name a program looks up in the libraries
// its process has loaded.
extern "C" sim::Control* QuarnSimulatorControl();
