// `quarn-host method check|show` and `quarn-host status`.
#include <cstdio>
#include <filesystem>
#include <string>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "front/shared_routines.h"
#include "host/commands.h"
#include "host/run_log.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"

namespace host {

std::string ResolveMethodPath(const std::string& given) {
  std::error_code ec;
  if (!given.empty() && std::filesystem::is_regular_file(given, ec)) {
    return given.find_first_of("/\\") == std::string::npos ? "./" + given : given;
  }
  CString name(given.c_str());
  AddMethodFileExtension("Quarn900", name);
  return name.str();
}

int MethodCheckCommand(const std::vector<std::string>& files, TerminalUi& ui) {
  int bad = 0;
  for (const auto& given : files) {
    const std::string path = ResolveMethodPath(given);
    QuarnMethod method;
    MethodFileProblems problems;
    if (LoadMethodFile(path, method, problems)) {
      std::printf("%s: ok\n", path.c_str());
      continue;
    }
    ++bad;
    for (const auto& problem : problems) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), DescribeMethodFileProblem(problem).c_str());
    }
  }
  if (bad) {
    ui.Failure(std::to_string(bad) + " of " + std::to_string(files.size()) + " method file" +
               (files.size() == 1 ? "" : "s") + " failed the check");
    return 1;
  }
  return 0;
}

int MethodShowCommand(const std::string& given, TerminalUi& ui) {
  const std::string path = ResolveMethodPath(given);
  QuarnMethod method;
  MethodFileProblems problems;
  if (!LoadMethodFile(path, method, problems)) {
    std::string text = DescribeMethodFileProblems(path.c_str(), problems).str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    ui.Failure("the method file is broken:\n" + text);
    return 1;
  }
  CGenericExpRecord record;
  for (const char* unit : {"PUMP", "AUTOSAMPLER", "UVDETECTOR"}) method.Print(&record, unit);
  std::fwrite(record.Text().data(), 1, record.Text().size(), stdout);
  return 0;
}

int StatusCommand(TerminalUi& ui, OutputMode mode) {
  if (ReadNetBoxCommsFlag() != 0) {
    ui.Failure("the instrument server transport is not available yet; use 'quarn-host config set transport direct'");
    return 1;
  }
  platform::Clock::Get().UseScaled(100.0);
  try {
    CQuarnControlAutoSampler sampler;
    CQuarnControlPump pump;
    CQuarnControlUVDetector uv(1, 1);
    sampler.InitialiseComms();
    if (!pump.InitialiseComms()) {
      ui.Failure("the pump could not open communications");
      return 1;
    }
    uv.InitialiseComms();
    CInletSystemStatus status;
    CInletSystemStatus other;
    if (!pump.ReadStatus(status)) {
      ui.Failure("the pump gave no status");
      return 1;
    }
    CInletSystemStatus pumpStatus = status;
    sampler.ReadStatus(other);
    status |= other;
    uv.ReadStatus(other);
    status |= other;
    PollRow row = RowFromRecords(pumpStatus, status);
    row.poll = 1;
    row.methodRunning = pump.MethodRunning();
    if (mode == OutputMode::kJson) {
      std::printf("%s\n", JsonRow(row).c_str());
    } else {
      std::printf("%s\n", StatusLineText(row).c_str());
    }
    pump.CloseDownComms();
  } catch (const CCommunicationsException& e) {
    ui.Failure("communications failed: " + e.GetErrorMessage().str());
    return 1;
  }
  return 0;
}

}  // namespace host
