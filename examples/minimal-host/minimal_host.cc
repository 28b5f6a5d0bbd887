// The smallest host of the plug-in: it constructs the pump, autosampler
// and UV detector objects, opens communications, loads a method, starts a
// sample with a vial and a volume, polls the status once a second until
// the method has run and ended, then stops and closes, the way the
// mass-spectrometry host does. It runs in virtual time on the simulated
// instruments: minutes of method take a moment.
//
// Usage: minimal-host METHODS_FOLDER METHOD_NAME VIAL VOLUME_UL
// The settings (the registry) are the file QUARN_REGISTRY names; without
// a transport flag the devices go straight to the instrument network.
// Exit code 0 when the method ran to its end, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <string>
#if defined(_WIN32)
#include <windows.h>
#endif

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "platform/clock/clock.h"

// What waits for the host's thread: with the instrument server in its own
// program, its events come as messages.
void TakeWaitingMessages() {
#if defined(_WIN32)
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
#endif
}

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: minimal-host METHODS_FOLDER METHOD_NAME VIAL VOLUME_UL\n");
    return 2;
  }
#if defined(_WIN32)
  // COM on the host's thread, as an interactive host has it.
  OleInitialize(nullptr);
  _putenv_s("QUARN_METHODS_DIR", argv[1]);
#else
  setenv("QUARN_METHODS_DIR", argv[1], 1);
#endif
  const CString method(argv[2]);
  platform::Clock& clock = platform::Clock::Get();
  clock.UseVirtual();

  CQuarnControlAutoSampler sampler;
  CQuarnControlUVDetector uv(0, 1);
  CQuarnControlPump pump;
  float minutes = 0;
  if (!pump.InitialiseComms() || !sampler.InitialiseComms() || !uv.InitialiseComms() ||
      !pump.LoadMethod(method) || !sampler.LoadMethod(method) || !uv.LoadMethod(method) ||
      !pump.GetMethodLength(method, minutes)) {
    std::fprintf(stderr, "minimal-host: the method %s could not be loaded\n", argv[2]);
    return 1;
  }
  if (!sampler.StartMethod(method, CString(argv[3]), std::strtof(argv[4], nullptr))) {
    std::fprintf(stderr, "minimal-host: the sample did not start\n");
    return 1;
  }

  const auto startMs = clock.NowMs();
  bool started = false;
  double ranMinutes = 0;
  int polls = 0;
  while (clock.NowMs() - startMs < static_cast<long long>((minutes + 10) * 60000)) {
    CInletSystemStatus status;
    pump.ReadStatus(status);  // sleeps a second of the clock
    sampler.ReadStatus(status);
    uv.ReadStatus(status);
    TakeWaitingMessages();  // the server's events, when it runs in its own program
    const bool running = pump.MethodRunning() != 0;
    if (running) ranMinutes = static_cast<double>(clock.NowMs() - startMs) / 60000.0;
    if (started && !running) break;
    started = started || running;
    if (running && ++polls % 60 == 0) {
      std::printf("%5.1f min  %.3f ml/min  %.1f bar\n", ranMinutes, static_cast<double>(status.GetFlow()),
                  static_cast<double>(status.GetHighPressure()));
    }
  }
  pump.StopMethod();
  pump.CloseDownComms(), sampler.CloseDownComms(), uv.CloseDownComms();

  const bool whole = ranMinutes + 0.05 >= minutes;
  std::printf("%s: ran %.1f of %.1f min\n", whole ? "completed" : "FAILED", ranMinutes, static_cast<double>(minutes));
  return whole ? 0 : 1;
}
