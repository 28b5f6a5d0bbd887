#include "host/outputs/run_log.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/text/display_text.h"
#include "host/text/number_text.h"

namespace host {

namespace {

// A number with the decimals the other outputs show (a NaN or infinity
// becomes null in JSON).
// A reading a hair below 0 is 0, not -0.
double Rounded(double value, double scale) { return std::round(value * scale) / scale + 0.0; }

// JSON text of a value; bytes that are not UTF-8 become U+FFFD, so the
// text is valid JSON whatever it holds.
template <class Json>
std::string JsonText(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The live line's number: "--" where a reading failed.
std::string Shown(double value, int decimals) { return std::isfinite(value) ? Fixed(value, decimals) : "--"; }

}  // namespace

std::string CsvField(const std::string& raw) { return CsvQuoted(Utf8FromWindows1252(raw)); }

std::string CsvQuoted(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string r = "\"";
  for (char c : text) {
    if (c == '"') r += '"';
    r += c;
  }
  return r + "\"";
}

std::string JsonString(const std::string& raw) { return JsonText(nlohmann::json(Utf8FromWindows1252(raw))); }

PollRow RowFromRecords(CInletSystemStatus& pump, CInletSystemStatus& merged) {
  PollRow row;
  row.elapsedMinutes = pump.GetTime();
  row.running = merged.GetRunning();
  row.pumpOn = merged.GetPumpOn();
  row.injecting = merged.GetInjecting();
  row.flow = pump.GetFlow();
  row.pressure = pump.GetHighPressure();
  row.percentA = pump.GetPercentA();
  row.percentB = pump.GetPercentB();
  row.percentC = pump.GetPercentC();
  row.percentD = pump.GetPercentD();
  row.ovenTemperature = pump.GetTemperatureLeft();
  row.lamp = merged.GetLamp();
  row.notReady = merged.GetNotReady();
  row.error = merged.GetError();
  row.notReadyText = merged.GetNotReadyInfo().str();
  row.errorText = merged.GetErrorInfo().str();
  return row;
}

namespace {

// `text` with `more` on a line of its own, unless it holds it already.
CString Joined(const CString& text, const CString& more) {
  if (more.IsEmpty() || text.str().find(more.str()) != std::string::npos) return text;
  return text.IsEmpty() ? more : text + "\n" + more;
}

}  // namespace

void AddDeviceReading(CInletSystemStatus& merged, CInletSystemStatus& device) {
  const int error = merged.GetError() == 1 || device.GetError() == 1;
  merged |= device;
  if (error) merged.GetError() = 1;
  if (device.GetNotReady() == 1) merged.SetNotReadyInfo(Joined(merged.GetNotReadyInfo(), device.GetNotReadyInfo()));
  if (device.GetError() == 1) merged.SetErrorInfo(Joined(merged.GetErrorInfo(), device.GetErrorInfo()));
}

bool IsMilestone(const PollRow& previous, const PollRow& row) {
  return row.running != previous.running || row.methodRunning != previous.methodRunning ||
         row.injecting != previous.injecting || row.pumpOn != previous.pumpOn ||
         row.notReady != previous.notReady || row.error != previous.error ||
         static_cast<long>(row.clockMinutes) != static_cast<long>(previous.clockMinutes);
}

std::vector<std::string> PollEvents(const PollRow* previous, const PollRow& row) {
  static const PollRow kNone;
  const PollRow& p = previous ? *previous : kNone;
  std::vector<std::string> events;
  const auto text = [](const std::string& plugIn) { return OneLineText(Utf8FromWindows1252(plugIn)); };
  if (row.notReady && (!p.notReady || row.notReadyText != p.notReadyText)) {
    events.push_back("not ready: " + text(row.notReadyText));
  } else if (!row.notReady && p.notReady) {
    events.push_back("ready");
  }
  if (row.error && (!p.error || row.errorText != p.errorText)) {
    events.push_back("error: " + text(row.errorText));
  } else if (!row.error && p.error) {
    events.push_back("the error cleared");
  }
  if (row.pumpOn != p.pumpOn && (previous || row.pumpOn)) {
    events.push_back(std::string(row.pumpOn ? "pump on" : "pump off") + " (" + Shown(row.flow, 3) + " ml/min, " +
                     Shown(row.pressure, 1) + " bar)");
  }
  if (row.injecting != p.injecting) {
    events.push_back(row.injecting ? "the autosampler began its injection sequence"
                                   : "the autosampler ended its injection sequence");
  }
  if (row.running != p.running) {
    events.push_back(row.running ? "the run started" : "the run ended at " + Fixed(p.elapsedMinutes, 2) + " min");
  } else if (row.running && row.elapsedMinutes < p.elapsedMinutes) {
    events.push_back("the run restarted: its clock went back from " + Fixed(p.elapsedMinutes, 2) + " to " +
                     Fixed(row.elapsedMinutes, 2) + " min");
  }
  if (row.lamp != p.lamp) events.push_back(row.lamp ? "UV lamp on" : "UV lamp off");
  return events;
}

const char* PhaseText(const PollRow& r) { return !r.waiting ? "run" : r.equilibrating ? "equilibrating" : "waiting"; }

std::string CsvHeader() {
  return "poll,clock_min,elapsed_min,running,method_running,pump_on,injecting,flow_ml_min,pressure_bar,"
         "percent_a,percent_b,percent_c,percent_d,oven_c,lamp,not_ready,error,not_ready_text,error_text,phase";
}

std::string CsvRow(const PollRow& r) {
  // A row a second for every run: built in one string, without temporaries.
  std::string row;
  row.reserve(128);
  const auto whole = [&](long long value) {
    char digits[24];
    row.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    row += ',';
  };
  // A reading that failed (not a number) leaves its cell empty.
  const auto number = [&](double value, int decimals) {
    if (std::isfinite(value)) AppendFixed(row, value, decimals);
    row += ',';
  };
  whole(r.poll);
  number(r.clockMinutes, 3);
  number(r.elapsedMinutes, 3);
  for (const long long flag : {r.running, r.methodRunning, r.pumpOn, r.injecting}) whole(flag);
  number(r.flow, 3);
  number(r.pressure, 1);
  for (const double percent : {r.percentA, r.percentB, r.percentC, r.percentD}) number(percent, 1);
  number(r.ovenTemperature, 1);
  for (const long long flag : {r.lamp, r.notReady, r.error}) whole(flag);
  for (const std::string* text : {&r.notReadyText, &r.errorText}) {
    if (!text->empty()) row += CsvField(OneLineText(*text));
    row += ',';
  }
  row += PhaseText(r);
  return row;
}

std::string JsonRow(const PollRow& r) {
  nlohmann::ordered_json row;
  row["poll"] = r.poll;
  row["clock_min"] = Rounded(r.clockMinutes, 1e3);
  row["elapsed_min"] = Rounded(r.elapsedMinutes, 1e3);
  row["running"] = r.running;
  row["method_running"] = r.methodRunning;
  row["pump_on"] = r.pumpOn;
  row["injecting"] = r.injecting;
  row["flow_ml_min"] = Rounded(r.flow, 1e3);
  row["pressure_bar"] = Rounded(r.pressure, 10);
  row["percent"] = {Rounded(r.percentA, 10), Rounded(r.percentB, 10), Rounded(r.percentC, 10),
                    Rounded(r.percentD, 10)};
  row["oven_c"] = Rounded(r.ovenTemperature, 10);
  row["lamp"] = r.lamp;
  row["not_ready"] = r.notReady;
  row["error"] = r.error;
  row["not_ready_text"] = Utf8FromWindows1252(r.notReadyText);
  row["error_text"] = Utf8FromWindows1252(r.errorText);
  row["phase"] = PhaseText(r);
  return JsonText(row);
}

std::string StatusLineText(const PollRow& r) {
  const char* state = r.running ? "RUNNING" : (r.injecting ? "INJECTING" : (r.pumpOn ? "PUMP ON" : "IDLE"));
  std::string line = std::string(state) + "  " + Shown(r.flow, 3) +
                     " ml/min  " + Shown(r.pressure, 1) + " bar  A/B/C/D " + Shown(r.percentA, 1) + "/" +
                     Shown(r.percentB, 1) + "/" + Shown(r.percentC, 1) + "/" + Shown(r.percentD, 1) + "%  oven " +
                     Shown(r.ovenTemperature, 0) + " \u00b0C  lamp " + (r.lamp ? "on" : "off");
  if (r.notReady) line += "  NOT READY";
  if (r.error) line += "  ERROR";
  return line;
}

}  // namespace host
