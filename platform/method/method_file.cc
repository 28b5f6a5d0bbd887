#include "platform/method/method_file.h"

// toml++ is compiled into this file, configured against hostile input.
#include "platform/method/toml.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/inlet/text.h"
#include "platform/method/toml_errors.h"

namespace {

// Text from a method file (UTF-8) as the framework's single-byte text
// (Windows-1252); characters it cannot hold become '?'.
CString Utf8ToWindows1252(std::string_view text) { return CString(platform::Windows1252FromUtf8(text)); }

// ---------------------------------------------------------------- limits
// The ranges a method may hold. They keep every value within what the
// instruments accept and what the records sent to them can carry.
constexpr double kMaxFlow = 10.0;          // ml/min
constexpr int kMaxPressure = 1000;         // bar
constexpr double kMaxTime = 10000.0;       // minutes
constexpr double kMaxOvenTemperature = 100.0;
constexpr int kMaxFlushes = 100;
constexpr int kMinWavelength = 190;
constexpr int kMaxWavelength = 900;
constexpr std::size_t kMaxTitleBytes = 200;
constexpr std::size_t kMaxDescriptionBytes = 4000;
constexpr std::size_t kMaxSolventNameBytes = 64;
// Rounding allowance when shares are added up (33.3 + 33.3 + 33.4).
constexpr double kShareTolerance = 1e-6;

const char* const kChannelLetters[] = {"A", "B", "C", "D"};
const char* const kShareKeys[] = {nullptr, "percent_b", "percent_c", "percent_d"};

struct SystemInfo {
  const char* word;
  int setting;
  int channels;  // channels A.. that the system delivers
  const char* description;
};
const SystemInfo kSystems[] = {
    {"isocratic", pumpSystemIsocratic, 1, "an isocratic pump system (channel A only)"},
    {"binary", pumpSystemBinary, 2, "a binary pump system (channels A and B)"},
    {"ternary", pumpSystemTernary, 3, "a ternary pump system (channels A, B and C)"},
    {"quaternary", pumpSystemQuaternary, 4, "a quaternary pump system (channels A to D)"},
};

const SystemInfo& SystemFor(int setting) {
  for (const SystemInfo& s : kSystems) {
    if (s.setting == setting) return s;
  }
  return kSystems[0];
}

// ------------------------------------------------------------ text helpers

std::string FormatNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10g", value);
  return buffer;
}

// Text from the file, safe to show in a message: as single-byte text,
// control characters replaced, long text cut.
std::string Shown(std::string_view text, std::size_t limit = 40) {
  const CString converted = Utf8ToWindows1252(text);
  std::string shown;
  for (unsigned char c : converted.str()) {
    if (shown.size() >= limit) {
      shown += "...";
      break;
    }
    shown += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  }
  return shown;
}

std::string DescribeFound(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::integer:
      return std::to_string(node.as_integer()->get());
    case toml::node_type::floating_point:
      return FormatNumber(node.as_floating_point()->get());
    case toml::node_type::string:
      return "text \"" + Shown(node.as_string()->get(), 24) + "\"";
    case toml::node_type::boolean:
      return node.as_boolean()->get() ? "true" : "false";
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    default:
      return "a date or time";
  }
}

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

// ---------------------------------------------------------------- ranges

struct RealRange {
  const char* what;  // "a flow"
  double lo;
  double hi;
  const char* unit;  // "ml/min", or "" for none
  bool loExclusive = false;

  std::string Expected() const {
    std::string text = what;
    text += loExclusive ? " above " + FormatNumber(lo) + " and up to " : " from " + FormatNumber(lo) + " to ";
    text += FormatNumber(hi);
    if (*unit) text += std::string(" ") + unit;
    return text;
  }
  bool Accepts(double v) const { return (loExclusive ? v > lo : v >= lo) && v <= hi; }
};

struct IntRange {
  const char* what;
  long long lo;
  long long hi;
  const char* unit;

  std::string Expected() const {
    std::string text = std::string(what) + " from " + std::to_string(lo) + " to " + std::to_string(hi);
    if (*unit) text += std::string(" ") + unit;
    return text;
  }
};

struct Word {
  const char* word;
  int value;
};

std::string WordList(std::initializer_list<Word> words) {
  std::string list;
  std::size_t i = 0;
  for (const Word& w : words) {
    if (i > 0) list += (i + 1 == words.size()) ? " or " : ", ";
    list += std::string("\"") + w.word + "\"";
    ++i;
  }
  return list;
}

// --------------------------------------------------------------- checker

// Collects the problems of one file: every one is counted, the first
// kMaxCollectedProblems in line order (then order of finding) are kept,
// so that a file full of mistakes costs bounded memory and still lists
// its first problems and a true count of the rest.
class Checker {
 public:
  void Report(int line, const std::string& key, const std::string& text) {
    m_kept.push_back({line, m_found++, {line, 0, key, text}});
    if (m_kept.size() >= 2 * kMaxCollectedProblems) Keep();
  }
  // The kept problems in line order, then one without a line counting
  // those left out.
  void MoveTo(MethodFileProblems& problems) {
    Keep();
    for (Found& found : m_kept) problems.push_back(std::move(found.problem));
    if (m_found > m_kept.size()) {
      const std::size_t more = m_found - m_kept.size();
      problems.push_back({0, 0, "",
                          std::to_string(more) + " more problem" + (more == 1 ? " is" : "s are") +
                              " not listed; correct these and check the file again",
                          more});
    }
  }

 private:
  struct Found {
    int line;
    std::size_t order;
    MethodFileProblem problem;
    bool operator<(const Found& other) const {
      return line != other.line ? line < other.line : order < other.order;
    }
  };
  // Sorts and drops all but the first kMaxCollectedProblems.
  void Keep() {
    std::sort(m_kept.begin(), m_kept.end());
    if (m_kept.size() > kMaxCollectedProblems) m_kept.resize(kMaxCollectedProblems);
  }
  std::vector<Found> m_kept;
  std::size_t m_found = 0;
};

std::string Join(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

// One table of the file: knows its key path, reports keys it does not
// know, and reads typed, range-checked values.
class TableView {
 public:
  TableView(const toml::table& table, std::string path, Checker& checker, std::initializer_list<const char*> known)
      : m_table(table), m_path(std::move(path)), m_checker(checker) {
    std::string knownList;
    for (const char* k : known) knownList += (knownList.empty() ? "" : ", ") + std::string(k);
    for (auto&& [key, value] : table) {
      const std::string_view name = key.str();
      const bool isKnown = std::any_of(known.begin(), known.end(), [name](const char* k) { return name == k; });
      if (!isKnown) {
        const int line = static_cast<int>(key.source().begin.line);
        m_checker.Report(line > 0 ? line : LineOf(value), Join(m_path, Shown(key.str())),
                         "unknown key; expected one of: " + knownList);
      }
    }
  }

  const std::string& Path() const { return m_path; }
  std::string KeyPath(std::string_view key) const { return Join(m_path, key); }
  int Line() const { return LineOf(m_table); }
  const toml::node* Find(std::string_view key) const { return m_table.get(key); }

  void Missing(std::string_view key, const std::string& expected) {
    m_checker.Report(Line(), KeyPath(key), "missing; expected " + expected);
  }
  void Wrong(std::string_view key, const toml::node& node, const std::string& text) {
    m_checker.Report(LineOf(node), KeyPath(key), text);
  }

  std::optional<double> Real(std::string_view key, const RealRange& range, bool required) {
    const toml::node* node = Find(key);
    if (!node) {
      if (required) Missing(key, range.Expected());
      return std::nullopt;
    }
    double value = 0.0;
    if (const auto* i = node->as_integer()) {
      value = static_cast<double>(i->get());
    } else if (const auto* f = node->as_floating_point()) {
      value = f->get();
    } else {
      Wrong(key, *node, "expected a number (" + range.Expected() + "), found " + DescribeFound(*node));
      return std::nullopt;
    }
    if (!range.Accepts(value)) {
      Wrong(key, *node, "expected " + range.Expected() + ", found " + DescribeFound(*node));
      return std::nullopt;
    }
    return value;
  }

  std::optional<int> Integer(std::string_view key, const IntRange& range, bool required) {
    const toml::node* node = Find(key);
    if (!node) {
      if (required) Missing(key, range.Expected());
      return std::nullopt;
    }
    // A whole number written with a decimal point (400.0) is that number.
    long long value = 0;
    if (const auto* i = node->as_integer()) {
      value = i->get();
    } else if (const auto* f = node->as_floating_point();
               f && std::isfinite(f->get()) && std::trunc(f->get()) == f->get() && std::fabs(f->get()) < 1e15) {
      value = static_cast<long long>(f->get());
    } else {
      Wrong(key, *node, "expected a whole number (" + range.Expected() + "), found " + DescribeFound(*node));
      return std::nullopt;
    }
    if (value < range.lo || value > range.hi) {
      Wrong(key, *node, "expected " + range.Expected() + ", found " + DescribeFound(*node));
      return std::nullopt;
    }
    return static_cast<int>(value);
  }

  std::optional<bool> Flag(std::string_view key, const char* meaning) {
    const toml::node* node = Find(key);
    if (!node) return std::nullopt;
    const auto* b = node->as_boolean();
    if (!b) {
      Wrong(key, *node, std::string("expected true or false (") + meaning + "), found " + DescribeFound(*node));
      return std::nullopt;
    }
    return b->get();
  }

  std::optional<int> Choice(std::string_view key, std::initializer_list<Word> words, const char* what) {
    const toml::node* node = Find(key);
    if (!node) return std::nullopt;
    if (const auto* s = node->as_string()) {
      for (const Word& w : words) {
        if (s->get() == w.word) return w.value;
      }
    }
    Wrong(key, *node, std::string("expected ") + what + ": " + WordList(words) + ", found " + DescribeFound(*node));
    return std::nullopt;
  }

  // Text of at most `maxBytes` bytes (after conversion to single-byte
  // text); tabs are allowed, line breaks only when `multiLine`.
  std::optional<CString> Text(std::string_view key, const char* what, std::size_t maxBytes, bool multiLine,
                              bool allowEmpty) {
    const toml::node* node = Find(key);
    if (!node) return std::nullopt;
    const auto* s = node->as_string();
    if (!s) {
      Wrong(key, *node, std::string("expected text (") + what + "), found " + DescribeFound(*node));
      return std::nullopt;
    }
    const std::string& utf8 = s->get();
    for (unsigned char c : utf8) {
      if ((c < 0x20 && c != '\t' && !(multiLine && (c == '\n' || c == '\r'))) || c == 0x7F) {
        Wrong(key, *node,
              std::string("expected text (") + what + ") without control characters" +
                  (multiLine ? "" : " or line breaks"));
        return std::nullopt;
      }
    }
    CString text = Utf8ToWindows1252(utf8);
    if (!allowEmpty && text.IsEmpty()) {
      Wrong(key, *node, std::string("expected text (") + what + "), found empty text");
      return std::nullopt;
    }
    if (static_cast<std::size_t>(text.GetLength()) > maxBytes) {
      Wrong(key, *node,
            std::string("expected text (") + what + ") of at most " + std::to_string(maxBytes) +
                " characters, found " + std::to_string(text.GetLength()));
      return std::nullopt;
    }
    return text;
  }

  // A sub-table; null (and a problem when `required` or when the key holds
  // something else) otherwise.
  const toml::table* Table(std::string_view key, bool required, const char* what) {
    const toml::node* node = Find(key);
    if (!node) {
      if (required) m_checker.Report(0, KeyPath(key), std::string("missing; expected a [") + KeyPath(key) +
                                                          "] table (" + what + ")");
      return nullptr;
    }
    const auto* table = node->as_table();
    if (!table) {
      Wrong(key, *node,
            std::string("expected a [") + KeyPath(key) + "] table (" + what + "), found " + DescribeFound(*node));
    }
    return table;
  }

  // An array of tables with at most `maxCount` elements.
  const toml::array* TableArray(std::string_view key, std::size_t maxCount, const char* what) {
    const toml::node* node = Find(key);
    if (!node) return nullptr;
    const auto* array = node->as_array();
    if (!array) {
      Wrong(key, *node,
            std::string("expected an array of tables (") + what + "), found " + DescribeFound(*node));
      return nullptr;
    }
    if (array->size() > maxCount) {
      Wrong(key, *node,
            std::string("expected at most ") + std::to_string(maxCount) + " " + what + ", found " +
                std::to_string(array->size()));
      return nullptr;
    }
    return array;
  }

 private:
  const toml::table& m_table;
  std::string m_path;
  Checker& m_checker;
};

// -------------------------------------------------------------- sections

struct Composition {
  double share[4] = {100.0, 0.0, 0.0, 0.0};  // A is the remainder
};

class MethodReader {
 public:
  MethodReader(QuarnMethod& method, Checker& checker) : m_method(method), m_checker(checker) {}

  void Read(const toml::table& root) {
    // [column] describes the column for the simulated instruments; the
    // instruments themselves are not told about it.
    TableView file(root, "", m_checker,
                   {"method", "pump", "solvents", "oven", "events", "autosampler", "uv", "column"});
    if (const auto* t = file.Table("method", false, "title and description")) ReadMethod(*t);
    const toml::table* pump = file.Table("pump", true, "the pump's initial conditions");
    // The solvents decide which shares the pump may use: read them first.
    const int system = pump ? PeekSystem(*pump) : pumpSystemIsocratic;
    if (const auto* t = file.Table("solvents", false, "the solvent channels in use")) {
      ReadSolvents(*t, system);
    } else {
      for (int c = 0; c < 4; ++c) m_method.GetSolventSelection().InUse(c) = c < SystemFor(system).channels ? 1 : 0;
    }
    if (pump) ReadPump(*pump);
    if (const auto* t = file.Table("oven", false, "the column oven")) ReadOven(*t);
    if (const auto* t = file.Table("events", false, "external events and valves")) ReadEvents(*t);
    if (const auto* t = file.Table("autosampler", false, "the autosampler settings")) {
      ReadSampler(*t);
    } else {
      m_method.GetSamplerInitialCons().AnalysisTime() = m_method.GetPumpInitialCons().StopTime();
    }
    if (const auto* t = file.Table("uv", false, "the UV detector settings")) ReadUV(*t);
  }

 private:
  // The system word, when it is valid; problems are reported by ReadPump.
  static int PeekSystem(const toml::table& pump) {
    if (const auto* s = pump.get_as<std::string>("system")) {
      for (const SystemInfo& info : kSystems) {
        if (s->get() == info.word) return info.setting;
      }
    }
    return pumpSystemIsocratic;
  }

  void ReadMethod(const toml::table& table) {
    TableView v(table, "method", m_checker, {"title", "description"});
    if (auto t = v.Text("title", "the method's title", kMaxTitleBytes, false, true)) m_method.Title() = *t;
    if (auto t = v.Text("description", "notes on the method", kMaxDescriptionBytes, true, true)) {
      m_method.Description() = *t;
    }
  }

  void ReadSolvents(const toml::table& table, int system) {
    TableView v(table, "solvents", m_checker, {"a", "b", "c", "d"});
    SolventSelection& solvents = m_method.GetSolventSelection();
    const SystemInfo& info = SystemFor(system);
    const char* const keys[] = {"a", "b", "c", "d"};
    for (int c = 0; c < 4; ++c) {
      solvents.InUse(c) = 0;
      const toml::node* node = v.Find(keys[c]);
      if (!node) continue;
      if (c >= info.channels) {
        v.Wrong(keys[c], *node,
                std::string("channel ") + kChannelLetters[c] + " is not available on " + info.description);
        continue;
      }
      // A named channel is in use even when its name is refused, so that
      // the shares are not reported as well.
      solvents.InUse(c) = 1;
      if (auto name = v.Text(keys[c], "the solvent in the channel", kMaxSolventNameBytes, false, false)) {
        solvents.Name(c) = *name;
      }
    }
  }

  // Checks the shares of one composition (initial conditions or a step).
  void CheckComposition(TableView& v, const Composition& comp) {
    const SolventSelection& solvents = m_method.GetSolventSelection();
    const SystemInfo& info = SystemFor(m_method.GetPumpInitialCons().PumpSystem());
    bool sharesValid = true;
    for (int c = 1; c < 4; ++c) {
      if (comp.share[c] <= 0.0) continue;
      const toml::node* node = v.Find(kShareKeys[c]);
      const int line = node ? LineOf(*node) : v.Line();
      if (c >= info.channels) {
        m_checker.Report(line, v.KeyPath(kShareKeys[c]),
                         std::string("expected 0: channel ") + kChannelLetters[c] + " is not available on " +
                             info.description);
        sharesValid = false;
      } else if (!solvents.InUse(c)) {
        m_checker.Report(line, v.KeyPath(kShareKeys[c]),
                         std::string("expected 0: channel ") + kChannelLetters[c] +
                             " is not in use (name its solvent under [solvents])");
        sharesValid = false;
      }
    }
    const double sum = comp.share[1] + comp.share[2] + comp.share[3];
    if (sum > 100.0 + kShareTolerance) {
      m_checker.Report(v.Line(), v.Path(),
                       "expected percent_b + percent_c + percent_d of at most 100, found " + FormatNumber(sum));
    } else if (sharesValid && 100.0 - sum > kShareTolerance && !solvents.InUse(0)) {
      m_checker.Report(v.Line(), v.Path(),
                       "expected shares adding up to 100: channel A is not in use but would deliver " +
                           FormatNumber(100.0 - sum) + " %");
    }
  }

  void ReadPump(const toml::table& table) {
    TableView v(table, "pump", m_checker,
                {"system", "flow", "max_pressure", "min_pressure", "stop_time", "percent_b", "percent_c", "percent_d",
                 "timetable"});
    PumpInitialCons& pump = m_method.GetPumpInitialCons();
    pump.PumpSystem() = v.Choice("system",
                                 {{"isocratic", pumpSystemIsocratic},
                                  {"binary", pumpSystemBinary},
                                  {"ternary", pumpSystemTernary},
                                  {"quaternary", pumpSystemQuaternary}},
                                 "a pump system")
                            .value_or(pumpSystemIsocratic);
    if (auto f = v.Real("flow", {"a flow", 0.0, kMaxFlow, "ml/min"}, true)) pump.Flow() = static_cast<float>(*f);
    const auto maxP = v.Integer("max_pressure", {"an upper pressure limit", 1, kMaxPressure, "bar"}, true);
    const auto minP = v.Integer("min_pressure", {"a lower pressure limit", 0, kMaxPressure, "bar"}, false);
    if (maxP) pump.MaxPressure() = *maxP;
    if (minP) pump.MinPressure() = *minP;
    if (maxP && minP && *minP >= *maxP) {
      v.Wrong("min_pressure", *v.Find("min_pressure"),
              "expected a lower pressure limit below max_pressure (" + std::to_string(*maxP) + " bar), found " +
                  std::to_string(*minP));
    }
    const auto stop = v.Real("stop_time", {"a stop time", 0.0, kMaxTime, "min", true}, true);
    if (stop) pump.StopTime() = static_cast<float>(*stop);

    Composition comp;
    bool sharesRead = true;
    for (int c = 1; c < 4; ++c) {
      const auto share = v.Real(kShareKeys[c], {"a percentage", 0.0, 100.0, "%"}, false);
      if (!share && v.Find(kShareKeys[c])) sharesRead = false;
      comp.share[c] = share.value_or(0.0);
    }
    pump.PercentB() = static_cast<float>(comp.share[1]);
    pump.PercentC() = static_cast<float>(comp.share[2]);
    pump.PercentD() = static_cast<float>(comp.share[3]);
    if (sharesRead) CheckComposition(v, comp);

    if (const auto* steps = v.TableArray("timetable", PumpGradient::kMaxEntries, "gradient steps")) {
      ReadTimetable(*steps, stop.has_value());
    }
  }

  void ReadTimetable(const toml::array& steps, bool stopKnown) {
    const PumpInitialCons& pump = m_method.GetPumpInitialCons();
    GradTimeTableEntry previous(0.0f, pump.Flow(), pump.PercentB(), pump.PercentC(), pump.PercentD(),
                                pump.MaxPressure());
    float previousTime = -1.0f;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const std::string path = "pump.timetable[" + std::to_string(i + 1) + "]";
      const toml::table* table = steps.get(i)->as_table();
      if (!table) {
        m_checker.Report(LineOf(*steps.get(i)), path,
                         "expected a table (a gradient step with time, flow and shares), found " +
                             DescribeFound(*steps.get(i)));
        continue;
      }
      TableView v(*table, path, m_checker,
                  {"time", "flow", "percent_b", "percent_c", "percent_d", "max_pressure"});
      GradTimeTableEntry step = previous;
      const auto time = v.Real("time", {"a time", 0.0, kMaxTime, "min"}, true);
      if (time) {
        step.Time() = static_cast<float>(*time);
        CheckTime(v, step.Time(), previousTime, stopKnown, "step");
        previousTime = std::max(previousTime, step.Time());
      }
      if (auto f = v.Real("flow", {"a flow", 0.0, kMaxFlow, "ml/min"}, false)) step.Flow() = static_cast<float>(*f);
      Composition comp;
      comp.share[1] = step.PercentB();
      comp.share[2] = step.PercentC();
      comp.share[3] = step.PercentD();
      bool sharesRead = true;
      for (int c = 1; c < 4; ++c) {
        const auto share = v.Real(kShareKeys[c], {"a percentage", 0.0, 100.0, "%"}, false);
        if (share) comp.share[c] = *share;
        if (!share && v.Find(kShareKeys[c])) sharesRead = false;
      }
      step.PercentB() = static_cast<float>(comp.share[1]);
      step.PercentC() = static_cast<float>(comp.share[2]);
      step.PercentD() = static_cast<float>(comp.share[3]);
      if (sharesRead) CheckComposition(v, comp);
      if (auto p = v.Integer("max_pressure", {"an upper pressure limit", 1, kMaxPressure, "bar"}, false)) {
        step.Pressure() = *p;
        if (*p <= pump.MinPressure()) {
          v.Wrong("max_pressure", *v.Find("max_pressure"),
                  "expected an upper pressure limit above min_pressure (" + std::to_string(pump.MinPressure()) +
                      " bar), found " + std::to_string(*p));
        }
      }
      m_method.GetPumpGradient().AddEntry(step);
      previous = step;
    }
  }

  // A step or event time: in time order and not after the stop time.
  void CheckTime(TableView& v, float time, float previousTime, bool stopKnown, const char* what) {
    const toml::node& node = *v.Find("time");
    const float stop = m_method.GetPumpInitialCons().StopTime();
    if (time < previousTime) {
      v.Wrong("time", node,
              std::string("expected a time from ") + FormatNumber(previousTime) + " min on: each " + what +
                  " must come at or after the one before, found " + FormatNumber(time));
    } else if (stopKnown && time > stop) {
      v.Wrong("time", node,
              std::string("expected a time up to the stop time (") + FormatNumber(stop) + " min), found " +
                  FormatNumber(time) + ": this " + what + " would never happen");
    }
  }

  void ReadOven(const toml::table& table) {
    TableView v(table, "oven", m_checker, {"in_use", "temperature"});
    PumpInitialCons& pump = m_method.GetPumpInitialCons();
    const bool inUse = v.Flag("in_use", "whether the oven is used").value_or(true);
    pump.OvenInUse() = inUse ? 1 : 0;
    if (auto t = v.Real("temperature", {"an oven temperature", 0.0, kMaxOvenTemperature, "\xB0" "C"}, inUse)) {
      pump.OvenTemperature() = static_cast<float>(*t);
    }
  }

  void ReadEvents(const toml::table& table) {
    TableView v(table, "events", m_checker, {"initial", "timed"});
    if (const auto* initial = v.Table("initial", false, "outputs and valves at the start of the run")) {
      TableView s(*initial, "events.initial", m_checker,
                  {"event1", "event2", "event3", "event4", "valve1", "valve2", "valve3"});
      InitialEventStates& states = m_method.GetInitialEventStates();
      for (int type = 0; type < kEventTypeCount; ++type) {
        if (auto action = ReadAction(s, type, false)) states.State(static_cast<EventType>(type)) = *action;
      }
    }
    if (const auto* rows = v.TableArray("timed", CEventTable::kMaxEntries, "timed events")) ReadTimedEvents(*rows);
  }

  static const char* EventKey(int type) {
    static const char* const keys[] = {"event1", "event2", "event3", "event4", "valve1", "valve2", "valve3"};
    return keys[type];
  }

  // The action for output or valve `type`: outputs take words, valves a
  // position; a pulse only makes sense at a time, not as a start state.
  std::optional<ActionType> ReadAction(TableView& v, int type, bool timed) {
    if (type <= eventOutput4) {
      const auto value = timed ? v.Choice(EventKey(type), {{"on", actionOn}, {"off", actionOff}, {"pulse", actionPulse}},
                                          "an output action")
                               : v.Choice(EventKey(type), {{"on", actionOn}, {"off", actionOff}}, "an output state");
      if (!value) return std::nullopt;
      return static_cast<ActionType>(*value);
    }
    const auto position = v.Integer(EventKey(type), {"a valve position", 1, 6, ""}, false);
    if (!position) return std::nullopt;
    return static_cast<ActionType>(actionPosition1 + (*position - 1));
  }

  void ReadTimedEvents(const toml::array& rows) {
    CEventTable& events = m_method.GetEventTable();
    std::map<std::pair<float, int>, int> switchedAt;  // (time, type) -> line
    float previousTime = -1.0f;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const std::string path = "events.timed[" + std::to_string(i + 1) + "]";
      const toml::table* table = rows.get(i)->as_table();
      if (!table) {
        m_checker.Report(LineOf(*rows.get(i)), path,
                         "expected a table (a time and the outputs or valves to switch), found " +
                             DescribeFound(*rows.get(i)));
        continue;
      }
      TableView v(*table, path, m_checker,
                  {"time", "event1", "event2", "event3", "event4", "valve1", "valve2", "valve3"});
      const auto time = v.Real("time", {"a time", 0.0, kMaxTime, "min"}, true);
      if (time) {
        CheckTime(v, static_cast<float>(*time), previousTime, m_method.GetPumpInitialCons().StopTime() > 0.0f,
                  "event");
        previousTime = std::max(previousTime, static_cast<float>(*time));
      }
      bool any = false;
      for (int type = 0; type < kEventTypeCount; ++type) {
        if (!v.Find(EventKey(type))) continue;
        any = true;
        const auto action = ReadAction(v, type, true);
        if (!action || !time) continue;
        const float t = static_cast<float>(*time);
        const int line = LineOf(*v.Find(EventKey(type)));
        const auto [it, added] = switchedAt.emplace(std::make_pair(t, type), line);
        if (!added) {
          m_checker.Report(line, v.KeyPath(EventKey(type)),
                           std::string("expected one switching of ") + EventKey(type) + " at " + FormatNumber(t) +
                               " min; it is already switched then on line " + std::to_string(it->second));
          continue;
        }
        if (!events.AddEntry(CExternalEvent(t, static_cast<EventType>(type), *action))) {
          m_checker.Report(line, v.KeyPath(EventKey(type)),
                           "expected at most " + std::to_string(CEventTable::kMaxEntries) +
                               " switchings in all timed events");
        }
      }
      if (!any) {
        m_checker.Report(v.Line(), path,
                         "expected at least one output or valve to switch: event1 to event4 or valve1 to valve3");
      }
    }
  }

  void ReadSampler(const toml::table& table) {
    TableView v(table, "autosampler", m_checker, {"vial", "injection_volume", "analysis_time", "flushes"});
    SamplerInitialCons& sampler = m_method.GetSamplerInitialCons();
    if (auto n = v.Integer("vial", {"a vial number", kMinVial, kMaxVial, ""}, false)) sampler.VialNumber() = *n;
    if (auto f = v.Real("injection_volume", {"an injection volume", 0.0, kMaxInjectionVolume, "\xB5" "l", true},
                        false)) {
      sampler.InjectionVolume() = static_cast<float>(*f);
    }
    if (auto f = v.Real("analysis_time", {"an analysis time", 0.0, kMaxTime, "min", true}, false)) {
      sampler.AnalysisTime() = static_cast<float>(*f);
    } else if (!v.Find("analysis_time")) {
      sampler.AnalysisTime() = m_method.GetPumpInitialCons().StopTime();
    }
    if (auto n = v.Integer("flushes", {"a number of flushes", 0, kMaxFlushes, ""}, false)) sampler.Flushes() = *n;
  }

  void ReadUV(const toml::table& table) {
    TableView v(table, "uv", m_checker, {"wavelength", "response", "autozero"});
    UVDetectorCons& uv = m_method.GetUVDetectorCons();
    if (auto n = v.Integer("wavelength", {"a wavelength", kMinWavelength, kMaxWavelength, "nm"}, false)) {
      uv.Wavelength() = *n;
    }
    if (auto r = v.Choice("response",
                          {{"fast", uvResponseFast}, {"standard", uvResponseStandard}, {"slow", uvResponseSlow}},
                          "a response")) {
      uv.Response() = *r;
    }
    if (auto z = v.Flag("autozero", "whether to zero the detector at the start")) uv.ZeroSetting() = *z ? 1 : 0;
  }

  QuarnMethod& m_method;
  Checker& m_checker;
};

// Records the line of every key below `node` (`path` names it).
void CollectKeyLines(const toml::node& node, const std::string& path, MethodKeyLines& lines) {
  if (!path.empty()) lines.emplace(path, LineOf(node));
  if (const auto* table = node.as_table()) {
    for (auto&& [key, value] : *table) {
      const std::string child = Join(path, key.str());
      const int keyLine = static_cast<int>(key.source().begin.line);
      CollectKeyLines(value, child, lines);
      if (keyLine > 0 && !value.is_table() && !value.is_array()) lines[child] = keyLine;
    }
  } else if (const auto* array = node.as_array()) {
    for (std::size_t i = 0; i < array->size(); ++i) {
      CollectKeyLines(*array->get(i), path + "[" + std::to_string(i + 1) + "]", lines);
    }
  }
}

}  // namespace

bool ParseMethodText(std::string_view text, QuarnMethod& method, MethodFileProblems& problems,
                     MethodKeyLines* lines) {
  const std::size_t before = problems.size();
  if (text.size() > kMaxMethodFileBytes) {
    problems.push_back({0, 0, "", "expected a method file of at most " + std::to_string(kMaxMethodFileBytes) +
                                      " bytes, found " + std::to_string(text.size())});
    return false;
  }
  toml::table root;
  try {
    root = toml::parse(text);
  } catch (const toml::parse_error& error) {
    const auto& begin = error.source().begin;
    problems.push_back({static_cast<int>(begin.line), static_cast<int>(begin.column), "",
                        PlainParseError(Shown(error.description(), 200))});
    return false;
  } catch (const std::exception& error) {
    // Anything else the parser throws (out of memory).
    problems.push_back({0, 0, "", std::string("the file could not be parsed: ") + Shown(error.what(), 200)});
    return false;
  }

  QuarnMethod read;
  Checker checker;
  MethodReader(read, checker).Read(root);
  checker.MoveTo(problems);
  if (problems.size() > before) return false;
  if (lines) {
    lines->clear();
    CollectKeyLines(root, "", *lines);
  }
  read.SetFileName(method.GetFileName());
  method = read;
  return true;
}

