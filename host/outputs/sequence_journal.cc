#include "host/outputs/sequence_journal.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <sstream>

#include "host/system/host_system.h"

namespace host {

namespace {

constexpr const char* kJournalHeader = "quarn-host sequence journal 1";

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
    fields.push_back(Unescaped(line.substr(start, tab - start)));
  }
  fields.push_back(Unescaped(line.substr(start)));
  return fields;
}

}  // namespace

std::string TextFingerprint(const std::string& bytes) {
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a, byte by byte
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char text[20];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string FileFingerprint(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "missing";
  return TextFingerprint(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

std::optional<JournalContents> ReadJournal(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "there is no journal " + file.string() + " (is the folder a sequence folder?)";
    return std::nullopt;
  }
  std::stringstream all;
  all << in.rdbuf();
  return ParseJournal(all.str(), file, error);
}

std::optional<JournalContents> ParseJournal(const std::string& text, const std::filesystem::path& file,
                                            std::string& error) {
  JournalContents journal;
  std::size_t start = 0;
  bool first = true;
  // Only whole lines count: a kill while a line was written leaves it torn.
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    if (first) {
      if (line != kJournalHeader) {
        error = file.string() + " is not a sequence journal";
        return std::nullopt;
      }
      first = false;
      continue;
    }
    const std::vector<std::string> f = Fields(line);
    const auto number = [&f] { return std::atoi(f[1].c_str()); };
    if (f[0] == "list" && f.size() >= 3) {
      journal.listPath = f[1];
      journal.listFingerprint = f[2];
    } else if (f[0] == "transport" && f.size() >= 2) {
      journal.transport = f[1];
    } else if (f[0] == "method" && f.size() >= 3) {
      journal.methods[f[1]] = f[2];
    } else if (f[0] == "criteria" && f.size() >= 3) {
      journal.criteriaPath = f[1];
      journal.criteriaFingerprint = f[2];
    } else if (f[0] == "start" && f.size() >= 4) {
      JournalSample attempt;
      attempt.number = number();
      attempt.folder = f[2];
      attempt.started = f[3];
      journal.attempts.push_back(attempt);
    } else if (f[0] == "end" && f.size() >= 7) {
      for (auto it = journal.attempts.rbegin(); it != journal.attempts.rend(); ++it) {
        if (it->number != number() || it->hasEnded) continue;
        it->hasEnded = true;
        it->good = f[2] == "good";
        it->ended = f[4];
        it->peakBar = f[5];
        it->outcome = f[6];
        it->result = f[2];
        if (f.size() >= 12) {
          it->injectedMinutes = f[7];
          it->injectedBar = f[8];
          it->injectedOvenC = f[9];
          it->waitedMinutes = f[10];
          it->equilibratedMl = f[11];
        }
        break;
      }
    } else if (f[0] == "kept" && f.size() >= 4) {
      for (JournalSample& attempt : journal.attempts) {
        if (attempt.number == number() && attempt.folder == f[2]) attempt.folder = f[3];
      }
    }
  }
  if (first) {
    error = file.string() + " is empty: the sequence did not start";
    return std::nullopt;
  }
  return journal;
}

Journal::~Journal() {
  if (m_file) std::fclose(m_file);
}

bool Journal::Open(const std::filesystem::path& file, bool create) {
  if (!create) {
    // A line torn by a kill is dropped, so that the next line starts clean.
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t whole = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    std::error_code ec;
    if (whole < text.size()) std::filesystem::resize_file(file, whole, ec);
    if (ec) return false;
  }
  // Made anew, or gone on with; never reached through a link.
  std::string error;
  m_file = create ? CreateNewFile(file, error) : OpenToAppend(file, error);
  return m_file != nullptr;
}

bool Journal::Begin(const std::vector<std::vector<std::string>>& lines) {
  std::string text = std::string(kJournalHeader) + '\n';
  for (const std::vector<std::string>& fields : lines) text += Line(fields);
  return Put(text, true);
}

bool Journal::Write(const std::vector<std::string>& fields, bool sync) { return Put(Line(fields), sync); }

std::string Journal::Line(const std::vector<std::string>& fields) {
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + Escaped(field);
  return line + '\n';
}

bool Journal::Put(const std::string& text, bool sync) {
  if (!m_file) return false;
  if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size()) return false;
  return sync ? SyncFile(m_file) : std::fflush(m_file) == 0;
}

}  // namespace host
