// The five device objects a host drives for a run or a sequence, in the
// host's order: built, opened, loaded, polled, stopped and closed here, and
// nowhere else.
//
// Contract: build order is autosampler, pump, UV detector, PDA detector,
// oven (the autosampler's back-end must exist when the pump opens the
// network). Open() initialises communications and then each device; Load()
// gives the method to the pump, the autosampler and the UV detector; Poll()
// takes one status reading of all five, at most once a second of clock
// time. The plug-in may throw CCommunicationsException from any call; it
// passes through.
// Thread safety: host's thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"

namespace host {

class DeviceSet {
 public:
  // Asked between two steps of opening and loading: true stops there.
  using StopCheck = std::function<bool()>;

  // Empty when every device opened; else what failed. Stopped: "".
  // `stopped` is set when `stop` ended it.
  std::string Open(const StopCheck& stop, bool& stopped);
  // Empty when the pump, the autosampler and the UV detector accepted
  // `methodName`; else which refused.
  std::string Load(const std::string& methodName, const StopCheck& stop, bool& stopped);
  // Each device's report of the loaded method.
  void WriteReports(CGenericExpRecord& record, const std::string& methodName);
  bool StartSample(const std::string& methodName, int vial, double volumeUl);

  // One status poll of every device: the pump's own reading in `pump` (it
  // reports for every unit on the direct network; a value it could not
  // read is NaN, not a zero) and all five merged in `merged`; false when
  // the pump gave no reading. `running` gets any device's MethodRunning().
  bool Poll(CInletSystemStatus& pump, CInletSystemStatus& merged, int& running);

  // Stops the methods of the pump, the autosampler and the UV detector.
  void StopMethods();
  // Closes communications of all five.
  void Close();

  CQuarnControlAutoSampler sampler;
  CQuarnControlPump pump;
  CQuarnControlUVDetector uv{1, 1};  // introduced to the host as UV detector kind 1, number 1
  CQuarnControlPDADetector pda;
  CQuarnControlOven oven;

 private:
  std::int64_t m_nextPollMs = 0;
};

}  // namespace host
