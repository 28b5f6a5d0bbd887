// quarn-host: the stand-in for the mass-spectrometry host that loads the
// plug-in. It drives the exported device objects as the host does, on
// simulated instruments.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/cli/commands.h"
#include "host/harness/faults.h"
#include "host/harness/simulators.h"
#include "host/outputs/terminal_ui.h"
#include "host/running/sample_run.h"
#include "host/system/host_system.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"
#include "platform/com/com.h"
#include "platform/method/method_file.h"

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

// COM on the program's thread, in the apartment of an interactive host's
// main thread (platform/com/com.h says what that means for the server's
// events); QUARN_HOST_APARTMENT=multi puts it in the multithreaded one
// instead, to try the plug-in there. What is wrong with the setting, or "".
std::string EnterHostApartment() {
  const char* set = std::getenv("QUARN_HOST_APARTMENT");
  const std::string chosen = set ? set : "";
  if (!chosen.empty() && chosen != "single" && chosen != "multi") {
    return "QUARN_HOST_APARTMENT is \"" + chosen + "\": it takes single (the default) or multi";
  }
  const HRESULT hr = platform::com::EnterApartment(chosen == "multi" ? platform::com::Apartment::kMultithreaded
                                                                     : platform::com::Apartment::kSingleThreaded);
  if (FAILED(hr)) {
    char code[32];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
    return std::string("COM could not be initialised on this thread (") + code + ")";
  }
  return "";
}

// The parser's mistake in words a person reads: which option, what was
// wrong and what it takes. The parser's errors carry no fields, so what
// they are about is read from the parser: the command reached, the
// option's values, the words left over. A mistake the program has no
// words of its own for keeps the parser's.
std::string Explained(const CLI::ParseError& e, const CLI::App& app) {
  const CLI::App* reached = &app;
  while (!reached->get_subcommands().empty()) reached = reached->get_subcommands().front();
  if (dynamic_cast<const CLI::RequiredError*>(&e) && reached->get_require_subcommand_min() > 0 &&
      reached->get_subcommands().empty()) {
    return "a command is required: run, sequence, method check, method show, config get, config set or status";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
    // The option leads the parser's text ("--vial: ..."); a value too
    // many leaves it holding more than one.
    const std::string what = e.what();
    const CLI::Option* option = reached->get_option_no_throw(what.substr(0, what.find(": ")));
    if (option && option->count() > 1) {
      return option->get_name() + " takes one value; " + std::to_string(option->count()) + " were given";
    }
    if (option) return option->get_name() + " needs a value";
  }
  if (const std::vector<std::string> extra = app.remaining(true);
      dynamic_cast<const CLI::ExtrasError*>(&e) && !extra.empty()) {
    // An option the command does not have, rather than a value too many.
    for (const std::string& word : extra) {
      if (word.starts_with('-')) return "unknown option " + word;
    }
    std::string words;
    for (const std::string& word : extra) words += (words.empty() ? "" : " ") + word;
    return "unexpected " + words + " (each option takes one value; quote a value with blanks)";
  }
  return e.what();
}

// One of `names`, or the mistake in the program's words ("'Server' is not
// known; expected direct or server"); the help shows the names as the
// parser's own check would.
CLI::Validator OneOf(std::vector<std::string> names) {
  std::string expected, shown;
  for (std::size_t i = 0; i < names.size(); ++i) {
    expected += (i == 0 ? "" : " or ") + names[i];
    shown += (i == 0 ? "" : ",") + names[i];
  }
  return CLI::Validator(
      [names, expected](std::string& value) {
        for (const std::string& name : names) {
          if (value == name) return std::string();
        }
        return "'" + value + "' is not known; expected " + expected;
      },
      "{" + shown + "}");
}

// A mistake on the command line: said, with where the usage is; exit 2.
int UsageError(const std::string& text, const char* command) {
  std::fprintf(stderr, "quarn-host: error: %s\n", host::EscapeControls(text).c_str());
  if (*command) {
    std::fprintf(stderr, "Run 'quarn-host %s--help' for usage.\n", command);
  } else {
    std::fprintf(stderr, "Run 'quarn-host --help' (or 'quarn-host COMMAND --help') for usage.\n");
  }
  return 2;
}

host::Transport TransportNamed(const std::string& name) {
  return name == "server" ? host::Transport::kServer : host::Transport::kDirect;
}

const CLI::Validator kTransportNames = OneOf({"direct", "server"});

void AddSolventOption(CLI::App* cmd, std::vector<std::string>& texts) {
  cmd->add_option("--solvent", texts,
                  "What the simulated bottle of a channel holds, instead of the method's label: CHANNEL=SOLVENT "
                  "(CHANNEL A, B, C or D; SOLVENT such as methanol or 'acetonitrile/water 90:10'), repeatable")
      ->allow_extra_args(false);
}

// The options `run` and `sequence` share: transport, clock, output, faults.
struct RunningArgs {
  std::string transport;
  std::string speedText;
  bool virtualTime = false;
  bool quiet = false;
  bool json = false;
  std::string outDir;
  bool force = false;
  bool trace = false;
  std::vector<std::string> faultTexts;
  std::vector<std::string> solventTexts;
  std::string columnText, dwellText, flowRampText, trayText;
  std::string readyTimeoutText, ifNotReady = "fail", equilibrateText;

  void Add(CLI::App* cmd, const char* what) {
    cmd->add_option("--transport", transport,
                    std::string("direct or server (for this ") + what + "; the transport setting is not changed)")
        ->check(kTransportNames);
    cmd->add_option("--speed", speedText, "How much faster than real time the run goes (1 to 10000)");
    cmd->add_flag("--virtual-time", virtualTime, "Run in virtual time: as fast as the computer allows (for tests and scripts)");
    cmd->add_option("--out", outDir, std::string("Folder for the ") + what + "'s files (default: a new folder under ./runs)");
    cmd->add_flag("--force", force, std::string("Replace the files of an earlier ") + what + " in the --out folder");
    cmd->add_flag("--trace", trace,
                  "Record the network wire trace in wire-trace.log (server transport: the server calls in "
                  "server-calls.log)");
    cmd->add_flag("--quiet", quiet, "Show only messages and errors");
    AddSolventOption(cmd, solventTexts);
    cmd->add_option("--column", columnText,
                    "The simulated column, DIAMETERxLENGTH,PARTICLE in mm, mm and um (2.1x100,1.7); "
                    "default: the method's [column]");
    cmd->add_option("--dwell", dwellText, "The simulated dwell volume in ml (0 to 20; default: the method's, or 0.6)");
    cmd->add_option("--flow-ramp", flowRampText,
                    "How fast the simulated pumps change their flow, ml/min per minute (0.1 to 1000; default 10)");
    cmd->add_option("--tray", trayText,
                    std::string("What the simulated vials hold: a tray file (default: ") +
                        (std::string(what) == "run" ? "METHOD.tray.toml or tray.toml beside the method"
                                                    : "LIST.tray.toml or tray.toml beside the sample list") +
                        ", if there is one)");
    cmd->add_option("--ready-timeout", readyTimeoutText,
                    "How long to wait for the instruments to be ready before an injection, minutes (0.1 to 1440; "
                    "default 30)");
    cmd->add_option("--if-not-ready", ifNotReady,
                    "fail (default): a sample whose instruments are not ready in time fails, not injected; "
                    "inject: inject anyway, and the sample counts as not ready, not good")
        ->check(OneOf({"fail", "inject"}));
  }
  // The readiness rules the options ask for; "" or the mistake.
  std::string ReadReady(CLI::App* cmd, host::ReadyRules& ready) const {
    ready.injectWhenNotReady = ifNotReady == "inject";
    if (const CLI::Option* option = cmd->get_option_no_throw("--equilibrate"); option && option->count() > 0) {
      const auto read = host::ReadDecimalNumber(equilibrateText, "--equilibrate", 0.0, 100.0, false);
      if (!read.value) return read.error;
      ready.equilibrateVolumes = *read.value;
    }
    if (cmd->count("--ready-timeout") == 0) return "";
    const auto read = host::ReadDecimalNumber(readyTimeoutText, "--ready-timeout", 0.1, 1440.0, false);
    if (read.value) ready.timeoutMinutes = *read.value;
    return read.error;
  }
  // The simulated liquid path the options ask for; "" or the mistake.
  std::string ReadPath(host::SimulatedPath& path) const {
    if (!columnText.empty()) {
      if (std::string why = host::ReadColumnOption(columnText, path); !why.empty()) return why;
    }
    if (!dwellText.empty()) {
      if (std::string why = host::ReadDwellOption(dwellText, path); !why.empty()) return why;
    }
    return flowRampText.empty() ? "" : host::ReadFlowRampOption(flowRampText, path);
  }
  // With real instruments, the options only a simulator can follow are
  // refused rather than ignored; "" or the refusal.
  static std::string RefuseForRealInstruments(CLI::App* cmd) {
    if (host::SimulatorPresent()) return "";
    for (const char* name :
         {"--virtual-time", "--speed", "--fault", "--solvent", "--column", "--dwell", "--flow-ramp", "--tray"}) {
      if (cmd->count(name) == 0) continue;
      return std::string(name) + ": the " + host::kRealInstrumentsText +
             "; --virtual-time, --speed, --fault, --solvent, --column, --dwell, --flow-ramp and --tray are for the "
             "simulated instruments only";
    }
    return "";
  }
  // "" or the mistake.
  std::string Read(CLI::App* cmd, double& speed, host::OutputMode& mode, host::SolventLabels& solvents) const {
    if (quiet && json) return "--quiet and --json cannot be used together";
    if (std::string why = host::ReadSolventOptions(solventTexts, solvents); !why.empty()) return why;
    mode = json ? host::OutputMode::kJson : quiet ? host::OutputMode::kQuiet : host::OutputMode::kNormal;
    if (cmd->count("--speed") == 0) return "";
    if (virtualTime) return "--speed and --virtual-time cannot be used together: virtual time runs as fast as it can";
    const auto read = host::ReadDecimalNumber(speedText, "--speed", 1.0, 10000.0, false);
    if (read.value) speed = *read.value;
    return read.error;
  }
};

struct RunCommand {
  CLI::App* cmd = nullptr;
  host::RunOptions options;
  RunningArgs args;
  std::string vialText, volumeText;

  void Add(CLI::App& app) {
    cmd = app.add_subcommand("run", "Run a method end to end: load, inject, poll until the run ends");
    // Required unless --fault list asks only for the list of faults.
    cmd->add_option("METHOD", options.method, "Method name or method file (.toml)");
    // Numbers are taken as text and read here: decimal always, no nan or inf.
    cmd->add_option("--vial", vialText, "Vial to inject from (1 to 10000; default: the method's)");
    cmd->add_option("--volume", volumeText, "Injection volume in microlitres (above 0, at most 1000; default: the method's)");
    args.Add(cmd, "run");
    cmd->add_flag("--json", args.json, "Write one JSON object per poll to standard output");
    cmd->add_option("--fault", args.faultTexts,
                    "Inject a fault into the simulated instruments: NAME[:PARAMETER][@MINUTES], repeatable; "
                    "'--fault list' lists them")
        ->allow_extra_args(false);
  }

  // The exit code when the command line alone settles it; else nullopt.
  std::optional<int> Read() {
    for (const std::string& text : args.faultTexts) {
      if (text != "list") continue;
      std::fputs(host::FaultListText().c_str(), stdout);
      return 0;
    }
    if (options.method.empty()) {
      return UsageError(cmd->count("METHOD") ? "METHOD is empty: give a method file or name" : "METHOD is required", "run ");
    }
    if (const std::string refused = RunningArgs::RefuseForRealInstruments(cmd); !refused.empty()) {
      return UsageError(refused, "run ");
    }
    for (const std::string& text : args.faultTexts) {
      host::FaultRead read = host::ReadFault(text);
      if (!read.fault) {
        std::fprintf(stderr, "quarn-host: error: %s\n", host::EscapeControls(read.error).c_str());
        std::fprintf(stderr, "Run 'quarn-host run --fault list' for the faults.\n");
        return 2;
      }
      options.faults.push_back(*read.fault);
    }
    std::string usage = args.Read(cmd, options.speed, options.mode, options.solvents);
    if (usage.empty()) usage = args.ReadPath(options.simulated);
    if (usage.empty()) usage = args.ReadReady(cmd, options.ready);
    if (usage.empty() && cmd->count("--vial") > 0) {
      const auto read = host::ReadWholeNumber(vialText, "--vial", kMinVial, kMaxVial);
      if (read.value) options.vial = static_cast<int>(*read.value);
      usage = read.error;
    }
    if (usage.empty() && cmd->count("--volume") > 0) {
      const auto read = host::ReadDecimalNumber(volumeText, "--volume", 0.0, kMaxInjectionVolume, true);
      if (read.value) options.volumeUl = *read.value;
      usage = read.error;
    }
    if (!usage.empty()) return UsageError(usage, "run ");
    if (!args.transport.empty()) options.transport = TransportNamed(args.transport);
    if (!args.outDir.empty()) options.out = args.outDir;
    if (!args.trayText.empty()) options.tray = args.trayText;
    options.force = args.force;
    options.trace = args.trace;
    options.virtualTime = args.virtualTime;
    return std::nullopt;
  }
};

struct SequenceCommand {
  CLI::App* cmd = nullptr;
  host::SequenceOptions options;
  RunningArgs args;
  std::string resume;
  std::string onError = "stop";
  std::string suitabilityText;
  std::string ifUnsuitable = "stop";

  void Add(CLI::App& app) {
    cmd = app.add_subcommand("sequence", "Run a sample list: many samples, one or more methods, resumable");
    cmd->add_option("LIST", options.list, "The sample list: .csv, or .toml with a [[sample]] table per sample")->required();
    args.Add(cmd, "sequence");
    cmd->add_flag("--json", args.json, "Write one JSON object per sample to standard output");
    cmd->add_option("--resume", resume, "Continue the sequence in this folder after its last sample that ended good");
    cmd->add_option("--on-error", onError, "stop (default): stop after a failed sample; skip: go on with the next")
        ->check(OneOf({"stop", "skip"}));
    cmd->add_flag("--strict", options.strict, "Count the methods' warnings as errors");
    cmd->add_option("--suitability", suitabilityText,
                    "The acceptance criteria: system suitability and the bracketing limit (default: "
                    "LIST.suitability.toml or suitability.toml beside the list, if there is one)");
    cmd->add_option("--if-unsuitable", ifUnsuitable,
                    "stop (default): a failed system suitability check stops the sequence before the rows after it "
                    "(the shutdown row still runs); continue: go on, the samples after it marked")
        ->check(OneOf({"stop", "continue"}));
    cmd->add_option("--equilibrate", args.equilibrateText,
                    "Column volumes of a new method's starting conditions to pump before its first injection "
                    "(0 to 100; default 10)");
    cmd->add_flag("--memory-check", options.memoryCheck,
                  "Fail when resident memory grows more than 2 MB after the 10th sample");
    cmd->add_option("--fault", args.faultTexts,
                    "Inject a fault into one sample: [SAMPLE:]NAME[:PARAMETER][@MINUTES] (SAMPLE from 1, default 1), "
                    "repeatable; 'quarn-host run --fault list' lists them")
        ->allow_extra_args(false);
  }

  std::optional<int> Read() {
    if (options.list.empty()) return UsageError("LIST is empty: give a sample list file", "sequence ");
    if (const std::string refused = RunningArgs::RefuseForRealInstruments(cmd); !refused.empty()) {
      return UsageError(refused, "sequence ");
    }
    for (const std::string& text : args.faultTexts) {
      host::SampleFault fault;
      std::string rest = text;
      if (const std::size_t colon = text.find(':');
          colon != std::string::npos && colon > 0 && text.find_first_not_of("0123456789") == colon) {
        const auto read = host::ReadWholeNumber(text.substr(0, colon), "--fault's sample", 1, 10000000);
        if (!read.value) return UsageError(read.error, "sequence ");
        fault.sample = static_cast<int>(*read.value);
        rest = text.substr(colon + 1);
      }
      host::FaultRead read = host::ReadFault(rest);
      if (!read.fault) return UsageError(read.error, "sequence ");
      fault.fault = *read.fault;
      options.faults.push_back(fault);
    }
    if (const std::string usage = args.Read(cmd, options.speed, options.mode, options.solvents); !usage.empty()) {
      return UsageError(usage, "sequence ");
    }
    if (const std::string usage = args.ReadPath(options.simulated); !usage.empty()) return UsageError(usage, "sequence ");
    if (const std::string usage = args.ReadReady(cmd, options.ready); !usage.empty()) return UsageError(usage, "sequence ");
    if (!resume.empty() && !args.outDir.empty()) {
      return UsageError("--resume names the sequence folder; --out cannot be given with it", "sequence ");
    }
    if (!args.transport.empty()) options.transport = TransportNamed(args.transport);
    if (!args.outDir.empty()) options.out = args.outDir;
    if (!resume.empty()) options.resume = resume;
    if (!args.trayText.empty()) options.tray = args.trayText;
    if (!suitabilityText.empty()) options.suitability = suitabilityText;
    options.continueUnsuitable = ifUnsuitable == "continue";
    options.force = args.force;
    options.trace = args.trace;
    options.virtualTime = args.virtualTime;
    options.skipFailed = onError == "skip";
    return std::nullopt;
  }
};

struct MethodCommands {
  CLI::App* check = nullptr;
  CLI::App* show = nullptr;
  std::vector<std::string> files;
  std::string transport;
  bool strict = false;
  std::string showFile;
  std::vector<std::string> solventTexts;

  void Add(CLI::App& app) {
    auto* method = app.add_subcommand("method", "Check or show method files");
    method->require_subcommand(1);
    check = method->add_subcommand("check", "Validate method files, one message per problem");
    check->add_option("FILE", files, "Method files")->required();
    check->add_option("--transport", transport,
                      "direct or server: the transport to check against (default: the transport setting)")
        ->check(kTransportNames);
    check->add_flag("--strict", strict, "Count warnings as failures");
    AddSolventOption(check, solventTexts);
    show = method->add_subcommand("show", "Print the pump, autosampler and UV reports of a method");
    show->add_option("FILE", showFile, "Method file")->required();
  }

  int Execute(host::TerminalUi& ui) {
    if (show->parsed()) return host::MethodShowCommand(showFile, ui);
    for (const std::string& file : files) {
      if (file.empty()) return UsageError("FILE is empty: give a method file or name", "method check ");
    }
    if (!solventTexts.empty() && !host::SimulatorPresent()) {
      return UsageError(std::string("--solvent: the ") + host::kRealInstrumentsText +
                            "; --solvent says what the simulated bottles hold",
                        "method check ");
    }
    host::SolventLabels solvents;
    if (const std::string why = host::ReadSolventOptions(solventTexts, solvents); !why.empty()) {
      return UsageError(why, "method check ");
    }
    std::optional<host::Transport> against;
    if (!transport.empty()) against = TransportNamed(transport);
    return host::MethodCheckCommand(files, against, strict, ui, solvents);
  }
};

struct ConfigCommands {
  CLI::App* get = nullptr;
  std::string getKey, setKey, setValue;

  void Add(CLI::App& app) {
    auto* config = app.add_subcommand("config", "Read or change the plug-in's settings");
    config->require_subcommand(1);
    get = config->add_subcommand("get", "Show a setting (or all of them)");
    get->add_option("KEY", getKey, "transport, oven-make, server-repository, server-registration");
    auto* set = config->add_subcommand("set", "Change a setting");
    set->add_option("KEY", setKey, "transport, oven-make, server-repository, server-registration")->required();
    set->add_option("VALUE", setValue, "New value (transport: direct or server)")->required();
  }

  int Execute(host::TerminalUi& ui) {
    return get->parsed() ? host::ConfigGetCommand(getKey, ui) : host::ConfigSetCommand(setKey, setValue, ui);
  }
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "quarn-host: runs liquid-chromatography methods through the QuarnControl plug-in on simulated instruments"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "quarn-host (QuarnControl) " QUARN_VERSION_TEXT);
  app.set_help_all_flag("--help-all", "Show help for every command");
  RunCommand run;
  run.Add(app);
  SequenceCommand sequence;
  sequence.Add(app);
  MethodCommands method;
  method.Add(app);
  ConfigCommands config;
  config.Add(app);
  bool statusJson = false;
  auto* status = app.add_subcommand("status", "Open the instruments and show one status poll");
  status->add_flag("--json", statusJson, "Write the poll as a JSON object");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() != 0) return UsageError(Explained(e, app), "");
    return app.exit(e);
  }

  std::optional<int> settled;
  host::OutputMode mode = statusJson ? host::OutputMode::kJson : host::OutputMode::kNormal;
  if (run.cmd->parsed()) {
    settled = run.Read();
    mode = run.options.mode;
  } else if (sequence.cmd->parsed()) {
    settled = sequence.Read();
    mode = sequence.options.mode;
  }
  if (settled) return *settled;
  host::TerminalUi ui(mode, stdout, stderr, host::IsTerminal(stdout));
  platform::InstallHostUi(&ui);
  UseOwnFolderAsWorkingDir();
  if (const std::string refused = EnterHostApartment(); !refused.empty()) return UsageError(refused, "");
  int code = 0;
  if (run.cmd->parsed() || sequence.cmd->parsed() || status->parsed()) host::CatchStopSignals(OnStopSignal);
  try {
    if (run.cmd->parsed()) {
      code = host::RunMethodCommand(run.options, ui);
    } else if (sequence.cmd->parsed()) {
      code = host::SequenceCommand(sequence.options, ui);
    } else if (status->parsed()) {
      code = host::StatusCommand(ui, mode);
    } else if (method.check->parsed() || method.show->parsed()) {
      code = method.Execute(ui);
    } else {
      code = config.Execute(ui);
    }
  } catch (const std::runtime_error& e) {
    // What the program cannot go on without (the simulated server's own
    // program out of reach): said, and the command fails.
    ui.Failure(e.what());
    code = 1;
  }
  platform::InstallHostUi(nullptr);
  return code;
}
