// quarn-host: the stand-in for the mass-spectrometry host that loads the
// plug-in. It drives the exported device objects as the host does, on
// simulated instruments.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/commands.h"
#include "host/faults.h"
#include "host/host_system.h"
#include "host/number_text.h"
#include "host/run_log.h"
#include "host/terminal_ui.h"

#define QUARN_VERSION_TEXT "0.1.0"

namespace {

extern "C" void OnStopSignal(int signal) { host::RequestStop(signal); }

// The host data system's working folder is where its programs are
// installed: here the folder of quarn-host, beside which the build puts
// the instrument server's registration program (TavixServer.exe). A
// working folder set by the user wins. The methods folder stays `methods`
// in the current folder, as before, unless QUARN_METHODS_DIR says otherwise.
void UseOwnFolderAsWorkingDir() {
  if (const char* set = std::getenv("QUARN_WORKING_DIR"); set && *set) return;
  std::error_code ec;
  const std::filesystem::path self = host::OwnProgramPath();
  if (!self.has_parent_path()) return;
  if (const char* methods = std::getenv("QUARN_METHODS_DIR"); !methods || !*methods) {
    const std::filesystem::path current = std::filesystem::current_path(ec);
    if (!ec) host::SetEnvironment("QUARN_METHODS_DIR", (current / "methods").string());
  }
  host::SetEnvironment("QUARN_WORKING_DIR", self.parent_path().string());
}

// The parser's message in words a person reads: which option, what was
// wrong and what it takes.
std::string Explained(const CLI::ParseError& e) {
  const std::string what = e.what();
  const std::size_t colon = what.find(": ");
  const std::string option = what.substr(0, colon);
  const std::string rest = colon == std::string::npos ? "" : what.substr(colon + 2);
  const auto endsWith = [](const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  };
  if (rest.find(" required ") != std::string::npos && endsWith(rest, " missing")) return option + " needs a value";
  if (rest.rfind("At Most ", 0) == 0) {
    return option + " takes one value; " + rest.substr(rest.rfind(' ') + 1) + " were given";
  }
  if (const std::size_t in = rest.find(" not in {"); in != std::string::npos && endsWith(rest, "}")) {
    std::string choices = rest.substr(in + 9, rest.size() - in - 10);
    for (std::size_t at = choices.find(','); at != std::string::npos; at = choices.find(',', at)) {
      choices.replace(at, 1, " or ");
    }
    return option + ": '" + rest.substr(0, in) + "' is not known; expected " + choices;
  }
  if (what == "A subcommand is required") {
    return "a command is required: run, method check, method show, config get, config set, soak or status";
  }
  if (what.rfind("The following argument", 0) == 0 && colon != std::string::npos) {
    return "unexpected " + rest + " (each option takes one value; quote a value with blanks)";
  }
  return what;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "quarn-host: runs liquid-chromatography methods through the QuarnControl plug-in on simulated instruments"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "quarn-host (QuarnControl) " QUARN_VERSION_TEXT);
  app.set_help_all_flag("--help-all", "Show help for every command");

  // run
  host::RunOptions run;
  bool quiet = false;
  bool json = false;
  std::string outDir;
  std::string transport;
  auto* runCmd = app.add_subcommand("run", "Run a method end to end: load, inject, poll until the run ends");
  // Required unless --fault list asks only for the list of faults.
  runCmd->add_option("METHOD", run.method, "Method name or method file (.toml)");
  runCmd->add_option("--transport", transport, "direct or server (for this run; the transport setting is not changed)")
      ->check(CLI::IsMember({"direct", "server"}));
  // Numbers are taken as text and read here: decimal always, no nan or inf.
  std::string vialText;
  std::string volumeText;
  std::string speedText;
  runCmd->add_option("--vial", vialText, "Vial to inject from (1 to 10000; default: the method's)");
  runCmd->add_option("--volume", volumeText, "Injection volume in microlitres (above 0, at most 1000; default: the method's)");
  runCmd->add_option("--speed", speedText, "How much faster than real time the run goes (1 to 10000)");
  runCmd->add_option("--out", outDir, "Folder for the run's files (default: a new folder under ./runs)");
  runCmd->add_flag("--force", run.force, "Replace the files of an earlier run in the --out folder");
  runCmd->add_flag("--trace", run.trace,
                   "Record the network wire trace in wire-trace.log (server transport: the server calls in "
                   "server-calls.log)");
  runCmd->add_flag("--virtual-time", run.virtualTime,
                   "Run in virtual time: as fast as the computer allows (for tests and scripts)");
  runCmd->add_flag("--quiet", quiet, "Show only messages and errors");
  runCmd->add_flag("--json", json, "Write one JSON object per poll to standard output");
  std::vector<std::string> faultTexts;
  runCmd
      ->add_option("--fault", faultTexts,
                   "Inject a fault into the simulated instruments: NAME[:PARAMETER][@MINUTES], repeatable; "
                   "'--fault list' lists them")
      ->allow_extra_args(false);

  // method check / show
  auto* methodCmd = app.add_subcommand("method", "Check or show method files");
  methodCmd->require_subcommand(1);
  std::vector<std::string> checkFiles;
  auto* checkCmd = methodCmd->add_subcommand("check", "Validate method files, one message per problem");
  checkCmd->add_option("FILE", checkFiles, "Method files")->required();
  std::string checkTransport;
  checkCmd->add_option("--transport", checkTransport,
                       "direct or server: the transport to check against (default: the transport setting)")
      ->check(CLI::IsMember({"direct", "server"}));
  bool strict = false;
  checkCmd->add_flag("--strict", strict, "Count warnings as failures");
  std::string showFile;
  auto* showCmd = methodCmd->add_subcommand("show", "Print the pump, autosampler and UV reports of a method");
  showCmd->add_option("FILE", showFile, "Method file")->required();

  // config get / set
  auto* configCmd = app.add_subcommand("config", "Read or change the plug-in's settings");
  configCmd->require_subcommand(1);
  std::string getKey;
  auto* getCmd = configCmd->add_subcommand("get", "Show a setting (or all of them)");
  getCmd->add_option("KEY", getKey, "transport, oven-make, server-repository, server-registration");
  std::string setKey;
  std::string setValue;
  auto* setCmd = configCmd->add_subcommand("set", "Change a setting");
  setCmd->add_option("KEY", setKey, "transport, oven-make, server-repository, server-registration")->required();
  setCmd->add_option("VALUE", setValue, "New value (transport: direct or server)")->required();

  // soak
  host::SoakOptions soak;
  std::string soakTransport;
  std::string soakRuns;
  auto* soakCmd = app.add_subcommand("soak", "Run many samples in a row in virtual time; check results and memory");
  soakCmd->add_option("METHOD", soak.method, "Method name or method file (.toml)")->required();
  soakCmd->add_option("--transport", soakTransport, "direct or server (for this soak; the setting is not changed)")
      ->check(CLI::IsMember({"direct", "server"}));
  soakCmd->add_option("--runs", soakRuns, "How many samples (1 to 100000; default 1000)");
  bool noMemoryCheck = false;
  soakCmd->add_flag("--no-memory-check", noMemoryCheck,
                    "Report memory without judging it (sanitizer builds hold memory of their own)");

  // status
  bool statusJson = false;
  auto* statusCmd = app.add_subcommand("status", "Open the instruments and show one status poll");
  statusCmd->add_flag("--json", statusJson, "Write the poll as a JSON object");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() != 0) {
      std::fprintf(stderr, "quarn-host: error: %s\n", host::EscapeControls(Explained(e)).c_str());
      std::fprintf(stderr, "Run 'quarn-host --help' (or 'quarn-host COMMAND --help') for usage.\n");
      return 2;
    }
    return app.exit(e);
  }

  if (runCmd->parsed()) {
    for (const std::string& text : faultTexts) {
      if (text != "list") continue;
      std::fputs(host::FaultListText().c_str(), stdout);
      return 0;
    }
    if (run.method.empty()) {
      std::fprintf(stderr, runCmd->count("METHOD") ? "quarn-host: error: METHOD is empty: give a method file or name\n"
                                                   : "quarn-host: error: METHOD is required\n");
      std::fprintf(stderr, "Run 'quarn-host run --help' for usage.\n");
      return 2;
    }
    for (const std::string& text : faultTexts) {
      host::FaultRead read = host::ReadFault(text);
      if (!read.fault) {
        std::fprintf(stderr, "quarn-host: error: %s\n", host::EscapeControls(read.error).c_str());
        std::fprintf(stderr, "Run 'quarn-host run --fault list' for the faults.\n");
        return 2;
      }
      run.faults.push_back(*read.fault);
    }
  }
  for (const std::string& file : checkFiles) {
    if (!file.empty()) continue;
    std::fprintf(stderr, "quarn-host: error: FILE is empty: give a method file or name\n");
    std::fprintf(stderr, "Run 'quarn-host method check --help' for usage.\n");
    return 2;
  }
  if (quiet && json) {
    std::fprintf(stderr, "quarn-host: error: --quiet and --json cannot be used together\n");
    return 2;
  }
  std::string usage;
  if (runCmd->count("--vial") > 0) {
    const auto read = host::ReadWholeNumber(vialText, "--vial", 1, 10000);
    if (read.value) run.vial = static_cast<int>(*read.value);
    usage = read.error;
  }
  if (runCmd->count("--volume") > 0 && usage.empty()) {
    const auto read = host::ReadDecimalNumber(volumeText, "--volume", 0.0, 1000.0, true);
    if (read.value) run.volumeUl = *read.value;
    usage = read.error;
  }
  if (runCmd->count("--speed") > 0 && run.virtualTime && usage.empty()) {
    usage = "--speed and --virtual-time cannot be used together: virtual time runs as fast as it can";
  }
  if (runCmd->count("--speed") > 0 && usage.empty()) {
    const auto read = host::ReadDecimalNumber(speedText, "--speed", 1.0, 10000.0, false);
    if (read.value) run.speed = *read.value;
    usage = read.error;
  }
  if (soakCmd->count("--runs") > 0 && usage.empty()) {
    const auto read = host::ReadWholeNumber(soakRuns, "--runs", 1, 100000);
    if (read.value) soak.runs = static_cast<int>(*read.value);
    usage = read.error;
  }
  if (!usage.empty()) {
    std::fprintf(stderr, "quarn-host: error: %s\n", usage.c_str());
    std::fprintf(stderr, "Run 'quarn-host %s --help' for usage.\n", soakCmd->parsed() ? "soak" : "run");
    return 2;
  }
  const host::OutputMode mode =
      json ? host::OutputMode::kJson : quiet ? host::OutputMode::kQuiet : host::OutputMode::kNormal;
  host::TerminalUi ui(runCmd->parsed() ? mode : (statusJson ? host::OutputMode::kJson : host::OutputMode::kNormal),
                      stdout, stderr, host::IsTerminal(stdout));
  platform::InstallHostUi(&ui);
  UseOwnFolderAsWorkingDir();

  int code = 0;
  if (runCmd->parsed()) {
    if (!transport.empty()) run.transport = transport == "server" ? host::Transport::kServer : host::Transport::kDirect;
    if (!outDir.empty()) run.out = outDir;
    run.mode = mode;
    host::CatchStopSignals(OnStopSignal);
    code = host::RunMethodCommand(run, ui);
  } else if (checkCmd->parsed()) {
    std::optional<host::Transport> against;
    if (!checkTransport.empty()) {
      against = checkTransport == "server" ? host::Transport::kServer : host::Transport::kDirect;
    }
    code = host::MethodCheckCommand(checkFiles, against, strict, ui);
  } else if (showCmd->parsed()) {
    code = host::MethodShowCommand(showFile, ui);
  } else if (getCmd->parsed()) {
    code = host::ConfigGetCommand(getKey, ui);
  } else if (setCmd->parsed()) {
    code = host::ConfigSetCommand(setKey, setValue, ui);
  } else if (soakCmd->parsed()) {
    if (!soakTransport.empty()) {
      soak.transport = soakTransport == "server" ? host::Transport::kServer : host::Transport::kDirect;
    }
    soak.memoryCheck = !noMemoryCheck;
    code = host::SoakCommand(soak, ui);
  } else if (statusCmd->parsed()) {
    host::CatchStopSignals(OnStopSignal);
    code = host::StatusCommand(ui, statusJson ? host::OutputMode::kJson : host::OutputMode::kNormal);
  }
  platform::InstallHostUi(nullptr);
  return code;
}
