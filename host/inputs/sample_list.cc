#include "host/inputs/sample_list.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <cstdio>

#include "host/inputs/user_file.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"
#include "platform/inlet/text.h"
#include "platform/method/method_file.h"
#include "platform/method/toml.h"
#include "platform/method/toml_errors.h"

namespace host {

namespace {

// A list larger than this is not a sample list.
constexpr std::uintmax_t kMaxListBytes = 16u << 20;

enum Column {
  kSample, kMethod, kVial, kVolume, kInjections, kAction, kMinutes, kNote, kContents, kType, kLevel, kColumnCount
};
constexpr std::array<const char*, kColumnCount> kColumnNames{"sample",  "method",  "vial", "volume",   "injections",
                                                              "action",  "minutes", "note", "contents", "type",
                                                              "level"};
constexpr bool kRequired[kColumnCount] = {true, true, true, true, false, false, false, false, false, false, false};
constexpr const char* kColumnList =
    "sample, method, vial, volume, injections, action, minutes, note, contents, type and level";
constexpr RowAction kActions[] = {RowAction::kInject, RowAction::kBlank, RowAction::kEquilibrate, RowAction::kShutdown};
constexpr SampleType kTypes[] = {SampleType::kUnknown, SampleType::kBlank, SampleType::kStandard,
                                 SampleType::kSuitability};
// The longest level label.
constexpr std::size_t kMaxLevelBytes = 40;

struct Record {
  int line = 0;
  std::vector<std::string> cells;
  std::vector<int> cellLines;  // a TOML list's line of each cell's key (0: absent); empty for CSV
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether text[i] is the '\r' of a "\r\n" line break, which reads as "\n";
// a '\r' on its own is a control character like any other.
bool LineBreakCr(const std::string& text, std::size_t i) {
  return text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
}

// The records of a CSV text: cells split at `separator`, double quotes
// around a cell that holds one, a quote (doubled) or a line break. Blank
// lines and lines starting with '#' are left out. `unclosed` gets the line
// of a quote that never closes.
std::vector<Record> SplitCsv(const std::string& text, char separator, int& unclosed) {
  std::vector<Record> records;
  Record record;
  std::string cell;
  bool quoted = false;
  bool cellWasQuoted = false;
  int line = 1;
  int quoteLine = 0;
  const auto endCell = [&] {
    record.cells.push_back(cellWasQuoted ? cell : Trimmed(cell));
    cell.clear();
    cellWasQuoted = false;
  };
  const auto endRecord = [&] {
    endCell();
    const bool blank = record.cells.size() == 1 && record.cells[0].empty() && !cellWasQuoted;
    const bool comment = !record.cells.empty() && !record.cells[0].empty() && record.cells[0][0] == '#';
    if (!blank && !comment) records.push_back(std::move(record));
    record = Record{};
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (record.cells.empty() && cell.empty() && !quoted && record.line == 0) record.line = line;
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n') ++line;
        if (!LineBreakCr(text, i)) cell += c;
      }
      continue;
    }
    if (c == '"' && Trimmed(cell).empty()) {
      quoted = true;
      cellWasQuoted = true;
      quoteLine = line;
      cell.clear();
    } else if (c == separator) {
      endCell();
    } else if (c == '\n') {
      endRecord();
      ++line;
    } else if (!LineBreakCr(text, i)) {
      cell += c;
    }
  }
  if (quoted) unclosed = quoteLine;
  if (!cell.empty() || !record.cells.empty() || cellWasQuoted) endRecord();
  return records;
}

// "list.csv: line 3: what" (without the line when it is 0: the whole list).
std::string Problem(const std::filesystem::path& file, int line, const std::string& what) {
  return EscapeControls(file.string()) + (line > 0 ? ": line " + std::to_string(line) : "") + ": " + what;
}

// The rows after the header (records[0]), each cell found by `at`; every
// row checked, the good ones kept.
}  // namespace

const char* RowActionName(RowAction action) {
  switch (action) {
    case RowAction::kBlank: return "blank";
    case RowAction::kEquilibrate: return "equilibrate";
    case RowAction::kShutdown: return "shutdown";
    case RowAction::kInject: break;
  }
  return "inject";
}

const char* SampleTypeName(SampleType type) {
  switch (type) {
    case SampleType::kBlank: return "blank";
    case SampleType::kStandard: return "standard";
    case SampleType::kSuitability: return "suitability";
    case SampleType::kUnknown: break;
  }
  return "unknown";
}

namespace {

void ReadRows(const std::vector<Record>& records, const std::array<int, kColumnCount>& at, bool decimalComma,
              const std::filesystem::path& file, SampleList& list) {
  const auto problem = [&](int line, const std::string& text) { list.problems.push_back(Problem(file, line, text)); };
  const Record& header = records.front();
  std::map<std::string, int> names;  // sample name -> its line
  long long samples = 0;             // every row's injections, counted as they will run
  for (std::size_t r = 1; r < records.size(); ++r) {
    const Record& record = records[r];
    if (record.cells.size() > header.cells.size()) {
      problem(record.line, "the row has " + std::to_string(record.cells.size()) + " cells, the header " +
                               std::to_string(header.cells.size()));
      continue;
    }
    const auto cell = [&](Column c) -> std::string {
      return at[c] >= 0 && at[c] < static_cast<int>(record.cells.size()) ? record.cells[at[c]] : "";
    };
    SampleRow row;
    row.line = record.line;
    // A name or a method file has one spelling: blanks around it, quoted
    // or not, are not part of it.
    row.name = Trimmed(cell(kSample));
    row.method = Trimmed(cell(kMethod));
    row.note = cell(kNote);
    row.contents = Trimmed(cell(kContents));
    for (std::size_t cr; (cr = row.note.find("\r\n")) != std::string::npos;) row.note.erase(cr, 1);
    bool good = true;
    // A problem of one cell names its key's line where the list tells it.
    const auto bad = [&](const std::string& what, int column = -1) {
      const bool keyed = column >= 0 && at[column] >= 0 && at[column] < static_cast<int>(record.cellLines.size());
      problem(keyed && record.cellLines[at[column]] > 0 ? record.cellLines[at[column]] : record.line, what);
      good = false;
    };
    if (row.name.empty()) bad("the sample has no name");
    if (row.name != EscapeControls(row.name)) {
      bad("the sample name '" + EscapeControls(row.name) + "' holds a control character");
    }
    // A spreadsheet writes a note of several lines as a quoted cell.
    if (row.note != EscapeControls(row.note, true)) bad("the note holds a control character other than a line break");
    if (!row.name.empty()) {
      const auto [first, added] = names.emplace(row.name, record.line);
      if (!added) {
        bad("the sample name '" + EscapeControls(row.name) + "' is used again (first on line " +
            std::to_string(first->second) + ")");
      }
    }
    const std::string action = Lower(Trimmed(cell(kAction)));
    for (RowAction a : kActions) {
      if (action == RowActionName(a)) row.action = a;
    }
    if (!action.empty() && action != RowActionName(row.action)) {
      bad("action: '" + EscapeControls(action) + "' is not one of inject, blank, equilibrate and shutdown", kAction);
    }
    const bool injects = row.action == RowAction::kInject;
    if (row.method.empty() && row.action != RowAction::kShutdown) {
      bad("the sample has no method file");
    } else if (!row.method.empty()) {
      const std::filesystem::path method(row.method);
      row.methodPath = method.is_absolute() ? method : file.parent_path() / method;
    }
    const auto whole = [&](Column c, long long lo, long long hi, int& value) {
      const NumberRead<long long> read = ReadWholeNumber(cell(c), kColumnNames[c], lo, hi);
      if (read.value) value = static_cast<int>(*read.value);
      else bad(read.error, c);
    };
    // A row that injects nothing may leave the vial and volume empty.
    if (injects || !cell(kVial).empty()) whole(kVial, kMinVial, kMaxVial, row.vial);
    std::string volume = cell(kVolume);
    // A list saved with ';' between cells writes decimal commas.
    if (decimalComma) std::replace(volume.begin(), volume.end(), ',', '.');
    if (injects || !volume.empty()) {
      const NumberRead<double> read = ReadDecimalNumber(volume, "volume", 0.0, kMaxInjectionVolume, true);
      if (read.value) row.volumeUl = *read.value;
      else bad(read.error, kVolume);
    }
    if (at[kInjections] >= 0 && !cell(kInjections).empty()) whole(kInjections, 1, kMaxInjectionsPerRow, row.injections);
    if (!injects && !row.contents.empty()) bad("contents: a " + action + " row injects nothing", kContents);
    if (row.contents != EscapeControls(row.contents)) bad("contents: the name holds a control character", kContents);
    if (!injects && row.injections != 1) bad("injections: a " + action + " row injects nothing", kInjections);
    // What an injection is; a row that injects nothing is no sample type.
    const std::string type = Lower(Trimmed(cell(kType)));
    for (SampleType t : kTypes) {
      if (type == SampleTypeName(t)) row.type = t;
    }
    if (!type.empty() && type != SampleTypeName(row.type)) {
      bad("type: '" + EscapeControls(type) + "' is not one of unknown, blank, standard and suitability", kType);
    } else if (!type.empty() && !injects) {
      bad(row.action == RowAction::kBlank
              ? "type: an action=blank row is a run without an injection and takes no type; an injection of a "
                "blank is type=blank with the action inject (or none)"
              : "type: " + std::string(action[0] == 'e' ? "an " : "a ") + action +
                    " row injects nothing; type says what an injection is",
          kType);
    }
    row.level = Trimmed(cell(kLevel));
    if (row.type == SampleType::kStandard && injects && row.level.empty()) {
      bad("level: a standard needs its level (a label such as 1 to 5)", kLevel);
    } else if (!row.level.empty() && row.type != SampleType::kStandard) {
      bad("level: only a standard takes a level (this row is " +
              (injects ? "an injection of type " + std::string(SampleTypeName(row.type))
                       : (action[0] == 'e' ? "an " : "a ") + action + " row") +
              ")",
          kLevel);
    } else if (row.level != EscapeControls(row.level)) {
      bad("level: the label holds a control character", kLevel);
    } else if (row.level.size() > kMaxLevelBytes) {
      bad("level: the label is longer than " + std::to_string(kMaxLevelBytes) + " bytes", kLevel);
    }
    if (row.action == RowAction::kEquilibrate) {
      const NumberRead<double> read = ReadDecimalNumber(cell(kMinutes), "minutes", 0.1, 1440.0, false);
      if (read.value) row.minutes = *read.value;
      else bad(read.error, kMinutes);
    } else if (!cell(kMinutes).empty()) {
      bad("minutes: only an equilibrate row takes minutes", kMinutes);
    }
    if (row.action == RowAction::kShutdown && r + 1 < records.size()) {
      bad("a shutdown row ends the list: it is the last row, which also runs when the sequence stops on a failure");
    }
    samples += row.injections;
    if (good) list.rows.push_back(std::move(row));
  }
  if (records.size() == 1) problem(0, "the list holds no samples");
  if (records.size() - 1 > static_cast<std::size_t>(kMaxSampleRows)) {
    problem(0, "the list holds " + std::to_string(records.size() - 1) + " rows; at most " +
                   std::to_string(kMaxSampleRows) + " are allowed");
  } else if (samples > kMaxListSamples) {
    problem(0, "the list holds " + std::to_string(samples) + " samples in all (each injection is a sample); at most " +
                   std::to_string(kMaxListSamples) + " are allowed");
  }
}

}  // namespace

// A TOML list: one [[sample]] table per row, its keys the columns.
SampleList ParseTomlList(const std::string& text, const std::filesystem::path& file) {
  SampleList list;
  std::vector<std::pair<int, std::string>> found;  // in line order at the end
  const auto problem = [&](int line, const std::string& what) { found.emplace_back(line, Problem(file, line, what)); };
  toml::table root;
  try {
    root = toml::parse(text);
  } catch (const toml::parse_error& error) {
    list.problems.push_back(EscapeControls(file.string()) + ": line " + std::to_string(error.source().begin.line) +
                            ": " + EscapeControls(PlainParseError(std::string(error.description()))));
    return list;
  } catch (const std::exception& error) {
    list.problems.push_back(EscapeControls(file.string()) + ": the list could not be read: " +
                            EscapeControls(error.what()));
    return list;
  }
  std::vector<Record> records{Record{0, {kColumnNames.begin(), kColumnNames.end()}, {}}};
  for (const auto& [key, node] : root) {
    if (key.str() != "sample" || !node.is_array_of_tables()) {
      problem(static_cast<int>(node.source().begin.line),
              "unknown key '" + EscapeControls(std::string(key.str())) + "': the list holds [[sample]] tables only");
    }
  }
  if (const toml::array* samples = root["sample"].as_array(); samples && samples->is_array_of_tables()) {
    for (const toml::node& entry : *samples) {
      const toml::table& table = *entry.as_table();
      Record record{static_cast<int>(table.source().begin.line), std::vector<std::string>(kColumnCount),
                    std::vector<int>(kColumnCount, 0)};
      for (const auto& [key, value] : table) {
        const auto known = std::find(kColumnNames.begin(), kColumnNames.end(), key.str());
        const int line = static_cast<int>(value.source().begin.line);
        if (known == kColumnNames.end()) {
          problem(line, "unknown key '" + EscapeControls(std::string(key.str())) +
                            "' (the keys are " + kColumnList + ")");
          continue;
        }
        const auto column = static_cast<std::size_t>(known - kColumnNames.begin());
        std::string& cell = record.cells[column];
        record.cellLines[column] = line;
        if (const auto* t = value.as_string()) {
          cell = t->get();
        } else if (const auto* i = value.as_integer()) {
          cell = std::to_string(i->get());
        } else if (const auto* f = value.as_floating_point()) {
          char number[40];
          std::snprintf(number, sizeof number, "%.15g", f->get());
          cell = number;
        } else {
          problem(line, "'" + std::string(key.str()) + "' takes a text or a number");
        }
      }
      records.push_back(std::move(record));
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [line, what] : found) list.problems.push_back(std::move(what));
  if (!list.problems.empty()) return list;
  std::array<int, kColumnCount> at{};
  for (int c = 0; c < kColumnCount; ++c) at[c] = c;
  ReadRows(records, at, false, file, list);
  return list;
}

SampleList ParseSampleList(const std::string& input, const std::filesystem::path& file) {
  if (file.extension() == ".toml") return ParseTomlList(input, file);
  SampleList list;
  const auto problem = [&](int line, const std::string& text) { list.problems.push_back(Problem(file, line, text)); };
  std::string text = input;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  if (!platform::IsUtf8(text)) {
    problem(0, "the list is not UTF-8 text (save it from the spreadsheet as \"CSV UTF-8\")");
    return list;
  }
  // The header row tells the separator: ';' where a spreadsheet writes
  // decimal commas, ',' otherwise.
  const std::string firstLine = text.substr(0, text.find('\n'));
  const char separator = firstLine.find(';') != std::string::npos && firstLine.find(',') == std::string::npos ? ';' : ',';
  int unclosed = 0;
  std::vector<Record> records = SplitCsv(text, separator, unclosed);
  if (unclosed > 0) problem(unclosed, "a quoted cell is not closed (a '\"' is missing)");
  if (records.empty()) {
    problem(0, "the list is empty: it needs a header row (sample, method, vial, volume) and a row per sample");
    return list;
  }
  const Record& header = records.front();
  std::array<int, kColumnCount> at;
  at.fill(-1);
  for (std::size_t i = 0; i < header.cells.size(); ++i) {
    const std::string column = Lower(header.cells[i]);
    const auto known = std::find(kColumnNames.begin(), kColumnNames.end(), column);
    if (known == kColumnNames.end()) {
      problem(header.line, "unknown column '" + EscapeControls(header.cells[i]) +
                               "' (the columns are " + kColumnList + ")");
    } else if (at[known - kColumnNames.begin()] >= 0) {
      problem(header.line, "the column '" + column + "' is named twice");
    } else {
      at[known - kColumnNames.begin()] = static_cast<int>(i);
    }
  }
  for (int c = 0; c < kColumnCount; ++c) {
    if (kRequired[c] && at[c] < 0) problem(header.line, std::string("the column '") + kColumnNames[c] + "' is missing");
  }
  if (!list.problems.empty()) return list;
  ReadRows(records, at, separator == ';', file, list);
  return list;
}

SampleList ReadSampleList(const std::filesystem::path& file) {
  SampleList list;
  const std::optional<std::string> text = ReadUserFile(file, kMaxListBytes, "a sample list", list.problems);
  return text ? ParseSampleList(*text, file) : list;
}

}  // namespace host
