#include "platform/win/registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <system_error>
#include <utility>

#include "platform/inlet/text.h"

namespace platform {

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// Finds a map entry whose key matches without regard to case.
template <class Map>
auto FindNoCase(Map& map, std::string_view key) {
  const std::string wanted = Lower(key);
  return std::find_if(map.begin(), map.end(), [&](const auto& entry) { return Lower(entry.first) == wanted; });
}

std::string FullKey(HKEY root, std::string_view key) {
  std::string full = RootKeyName(root);
  std::string_view k = key;
  while (!k.empty() && k.front() == '\\') k.remove_prefix(1);
  while (!k.empty() && k.back() == '\\') k.remove_suffix(1);
  if (!k.empty()) {
    full += '\\';
    full += k;
  }
  return full;
}

// A held value's name in Registry::m_held.
std::string HeldName(HKEY root, std::string_view key, std::string_view name) {
  return Lower(FullKey(root, key) + "\\" + std::string(name));
}

std::string Quote(std::string_view s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') r += '\\';
    r += c;
  }
  r += '"';
  return r;
}

[[noreturn]] void Damaged(const std::string& file, int line, const std::string& what) {
  throw RegistryError("the registry file " + file + " is damaged at line " + std::to_string(line) + ": " +
                      what + ". It has been left as it is; correct or remove it.");
}

// Reads a quoted text starting at s[pos] == '"'; returns the position after
// the closing quote, or npos when the text is not closed.
size_t ReadQuoted(std::string_view s, size_t pos, std::string& out) {
  out.clear();
  for (size_t i = pos + 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (s[i] == '"') {
      return i + 1;
    } else {
      out += s[i];
    }
  }
  return std::string_view::npos;
}

// The file's text as the single-byte text the settings hold. The file is
// UTF-8, as this program writes it, with or without a byte order mark; a
// UTF-16LE file (a registry editor's export, known by its mark) is
// converted as well. A file that is neither is taken as single-byte text,
// as older versions wrote it. A character single-byte text has no place
// for, and a single byte that stands for no character, reads as '?'.
std::string DecodeFileText(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::string out;
    const auto unit = [&](size_t i) -> char32_t {
      return static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      char32_t c = unit(i);
      if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
        i += 2;
      }
      out += ToWindows1252(c).value_or('?');
    }
    return out;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return Windows1252FromUtf8(bytes.substr(3));
  if (IsUtf8(bytes)) return Windows1252FromUtf8(bytes);
  // The five bytes that stand for no character read as '?' here too, so
  // that what is written back (as UTF-8) reads as what was read.
  std::string out(bytes);
  for (char& c : out) {
    if (FromWindows1252(static_cast<unsigned char>(c)) == 0xFFFD) c = '?';
  }
  return out;
}

// A line without the blanks and carriage returns around it.
std::string_view TrimLine(std::string_view line) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  return line;
}

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

std::string KindOf(const RegistryValue& value) {
  if (std::holds_alternative<std::uint32_t>(value)) return "a number (dword)";
  if (const auto* text = std::get_if<std::string>(&value)) return "text (\"" + text->substr(0, 40) + "\")";
  return "a value of another kind (" + std::get<RegistryOtherValue>(value).text.substr(0, 20) + ")";
}

std::string MismatchText(const std::filesystem::path& file, const std::string& fullKey, std::string_view name,
                         const RegistryValue& found) {
  const std::string wanted = std::holds_alternative<std::uint32_t>(found) ? "text" : "a number (dword)";
  const std::string where = file.empty() ? "the system's registry" : "the registry file " + file.string();
  return "the value \"" + std::string(name) + "\" under [" + fullKey + "] in " + where + " holds " + KindOf(found) + " where " + wanted + " belongs; it has been left as it is. Correct or remove it.";
}

}  // namespace

std::string SystemReason(int error) {
  if (error == 0) return "";
  return std::generic_category().message(error);
}

std::string RootKeyName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  throw RegistryError("unknown registry root key");
}

std::pair<std::string, std::string> SplitValuePath(std::string_view path) {
  const size_t cut = path.rfind('\\');
  if (cut == std::string_view::npos) return {std::string(), std::string(path)};
  return {std::string(path.substr(0, cut)), std::string(path.substr(cut + 1))};
}

RegistryContents Registry::Parse(std::string_view bytes, const std::string& fileName) {
  const std::string decoded = DecodeFileText(bytes);
  const std::string_view text = decoded;
  RegistryContents contents;
  std::map<std::string, RegistryValue>* section = nullptr;
  int lineNo = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimLine(text.substr(start, end - start));
    start = end + 1;
    ++lineNo;
    if (line.empty() || line.front() == ';' || line.front() == '#' ||
        line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4") {
      if (end == text.size()) break;
      continue;
    }
    // A value continued on the next lines (long hex values end each line
    // with a backslash). The backslashes are never part of the value, also
    // where no line follows: a value kept with one would be written back
    // as a continued line and swallow the line after it.
    std::string joined;
    const bool valueLine = line.front() == '"' || line.front() == '@';
    while (valueLine && !line.empty() && line.back() == '\\') {
      while (!line.empty() && line.back() == '\\') line = TrimLine(line.substr(0, line.size() - 1));
      joined += line;
      line = {};
      if (end >= text.size()) break;
      const size_t nextEnd = std::min(text.find('\n', start), text.size());
      line = TrimLine(text.substr(start, nextEnd - start));
      end = nextEnd;
      start = end + 1;
      ++lineNo;
    }
    if (!joined.empty()) {
      joined += line;
      line = joined;
    }
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) Damaged(fileName, lineNo, "a key line must read [ROOT\\key]");
      const std::string key(line.substr(1, line.size() - 2));
      if (key.rfind("HKEY_LOCAL_MACHINE", 0) != 0 && key.rfind("HKEY_CURRENT_USER", 0) != 0) {
        Damaged(fileName, lineNo, "a key must start with HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER");
      }
      auto found = FindNoCase(contents, key);
      section = found != contents.end() ? &found->second : &contents[key];
    } else if (line.front() == '"' || line.front() == '@') {
      if (!section) Damaged(fileName, lineNo, "a value comes before any [key] line");
      std::string name;
      const size_t after = line.front() == '@' ? 1 : ReadQuoted(line, 0, name);
      if (after == std::string_view::npos || after >= line.size() || line[after] != '=') {
        Damaged(fileName, lineNo, "expected \"name\"=value");
      }
      std::string_view rest = line.substr(after + 1);
      RegistryValue value;
      if (rest.rfind("dword:", 0) == 0) {
        const std::string_view hex = rest.substr(6);
        if (hex.size() != 8 || !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
          Damaged(fileName, lineNo, "a dword value needs exactly 8 hexadecimal digits");
        }
        value = static_cast<std::uint32_t>(std::stoul(std::string(hex), nullptr, 16));
      } else if (!rest.empty() && rest.front() == '"') {
        std::string s;
        const size_t close = ReadQuoted(rest, 0, s);
        if (close != rest.size()) Damaged(fileName, lineNo, "a text value must be one quoted string");
        value = s;
      } else if (rest.rfind("hex", 0) == 0 || rest == "-") {
        value = RegistryOtherValue{std::string(rest)};
      } else {
        Damaged(fileName, lineNo, "a value must be dword:XXXXXXXX, a quoted text or hex:...");
      }
      auto existing = FindNoCase(*section, name);
      if (existing != section->end()) {
        existing->second = value;
      } else {
        (*section)[name] = value;
      }
    } else {
      Damaged(fileName, lineNo, "expected a [key] line, a \"name\"=value line or a ; comment");
    }
    if (end == text.size()) break;
  }
  return contents;
}

std::string Registry::Serialise(const RegistryContents& contents) {
  std::ostringstream out;
  out << "Windows Registry Editor Version 5.00\n"
         "; QuarnControl registry (stand-in for the Windows registry).\n"
         "; One [key] line, then one \"name\"=value line per value:\n"
         "; dword:XXXXXXXX (8 hex digits) or a quoted text with \\\\ and \\\".\n";
  for (const auto& [key, values] : contents) {
    if (values.empty()) continue;
    out << "\n[" << key << "]\n";
    for (const auto& [name, value] : values) {
      out << (name.empty() ? std::string("@") : Quote(name)) << '=';
      if (const auto* dword = std::get_if<std::uint32_t>(&value)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "dword:%08x", *dword);
        out << hex;
      } else if (const auto* text = std::get_if<std::string>(&value)) {
        out << Quote(*text);
      } else {
        out << std::get<RegistryOtherValue>(value).text;
      }
      out << '\n';
    }
  }
  return Utf8FromWindows1252(out.str());
}

RegistryContents Registry::Load() const {
  const std::optional<std::string> bytes = ReadRegistryFile(m_file);
  return bytes ? Parse(*bytes, m_file.string()) : RegistryContents{};
}

RegistryError NotOrdinaryFileError(const std::filesystem::path& file, std::filesystem::file_type type) {
  using std::filesystem::file_type;
  const char* kind = type == file_type::directory ? "a folder"
                     : type == file_type::character ? "a character device"
                     : type == file_type::block ? "a block device"
                     : type == file_type::fifo ? "a FIFO (a named pipe)"
                     : type == file_type::socket ? "a socket"
                                                 : "not an ordinary file";
  return RegistryError("the registry file " + file.string() + " is " + kind +
                       ", not an ordinary file; it has been left as it is. Point QUARN_REGISTRY at an ordinary "
                       "file (or at a path where none exists yet).");
}

std::filesystem::path Registry::WriteTarget() const {
  namespace fs = std::filesystem;
  fs::path path = m_file;
  // As many links as the system follows before it calls it a loop.
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
    const fs::path target = fs::read_symlink(path, ec);
    if (ec) throw RegistryError("cannot follow the registry file " + m_file.string() + ": " + ec.message());
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  throw RegistryError("cannot follow the registry file " + m_file.string() + ": " + SystemReason(ELOOP));
}

void Registry::Store(const std::filesystem::path& target, const RegistryContents& contents) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // A file its owner may not write is kept as it is, though its folder
  // would let it be replaced.
  const auto status = fs::status(target, ec);
  const bool exists = !ec && fs::exists(status);
  if (exists && (status.permissions() & fs::perms::owner_write) == fs::perms::none) {
    throw RegistryError("the registry file " + m_file.string() +
                        " is read-only; nothing was changed. Make it writable to change settings.");
  }
  // The new file gets the old one's permissions.
  const fs::path temp = WriteRegistryTemp(target, Serialise(contents),
                                          exists ? std::optional<fs::perms>(status.permissions()) : std::nullopt);
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw RegistryError("cannot replace the registry file " + m_file.string() + ": " + ec.message());
  }
}

template <class Change>
void Registry::Modify(Change change) {
  namespace fs = std::filesystem;
  std::lock_guard<std::mutex> lock(m_mutex);
  const fs::path target = WriteTarget();
  std::error_code ec;
  // Refused before the lock file is made beside it.
  if (const auto status = fs::status(target, ec); !ec && fs::exists(status) && !fs::is_regular_file(status)) {
    throw NotOrdinaryFileError(m_file, status.type());
  }
  if (target.has_parent_path() && !fs::exists(target.parent_path(), ec)) {
    if (!m_createFolder) {
      throw RegistryError("the folder " + target.parent_path().string() + " of the registry file " + m_file.string() +
                          " does not exist; nothing was written. Create it, or point QUARN_REGISTRY elsewhere.");
    }
    fs::create_directories(target.parent_path(), ec);
  }
  const RegistryFileLock fileLock(fs::path(target.string() + ".lock"));
  // Read again under the lock: another process may have written since.
  RegistryContents contents = Load();
  if (change(contents)) Store(target, contents);
}

std::string Registry::TypeMismatch(HKEY root, std::string_view key, std::string_view name,
                                   const RegistryValue& found) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return MismatchText(m_file, FullKey(root, key), name, found);
}

void Registry::HoldForProcess(HKEY root, std::string_view key, std::string_view name,
                              std::optional<RegistryValue> value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string full = HeldName(root, key, name);
  if (value) {
    m_held[full] = std::move(*value);
  } else {
    m_held.erase(full);
  }
}

std::optional<RegistryValue> Registry::Read(HKEY root, std::string_view key, std::string_view name) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (const auto held = m_held.find(HeldName(root, key, name)); held != m_held.end()) return held->second;
#if defined(_WIN32)
  if (m_file.empty()) return SystemRead(root, key, name);
#endif
  const RegistryContents contents = Load();
  const auto section = FindNoCase(contents, FullKey(root, key));
  if (section == contents.end()) return std::nullopt;
  const auto value = FindNoCase(section->second, name);
  if (value == section->second.end()) return std::nullopt;
  return value->second;
}

void Registry::Write(HKEY root, std::string_view key, std::string_view name, const RegistryValue& value,
                     bool replaceOtherType) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const auto held = m_held.find(HeldName(root, key, name)); held != m_held.end()) {
      held->second = value;
      return;
    }
  }
#if defined(_WIN32)
  if (FilePath().empty()) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const auto found = SystemWrite(root, key, name, value, replaceOtherType)) {
      throw RegistryError(MismatchText(m_file, FullKey(root, key), name, *found));
    }
    return;
  }
#endif
  if (const auto* text = std::get_if<std::string>(&value); text && HasControlCharacter(*text)) {
    throw RegistryError("the text for \"" + std::string(name) +
                        "\" holds a control character (a line break, a tab...); the registry file keeps one "
                        "value a line, so nothing was written");
  }
  const std::string full = FullKey(root, key);
  Modify([&](RegistryContents& contents) {
    auto section = FindNoCase(contents, full);
    auto& values = section != contents.end() ? section->second : contents[full];
    auto existing = FindNoCase(values, name);
    if (existing == values.end()) {
      values[std::string(name)] = value;
      return true;
    }
    if (existing->second.index() != value.index() && !replaceOtherType) {
      throw RegistryError(MismatchText(m_file, full, name, existing->second));
    }
    if (existing->second == value) return false;  // nothing to store
    existing->second = value;
    return true;
  });
}

void Registry::Delete(HKEY root, std::string_view key, std::string_view name) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_held.count(HeldName(root, key, name))) return;  // this process keeps its own value
  }
#if defined(_WIN32)
  if (FilePath().empty()) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return SystemDelete(root, key, name);
  }
#endif
  Modify([&](RegistryContents& contents) {
    auto section = FindNoCase(contents, FullKey(root, key));
    if (section == contents.end()) return false;
    auto existing = FindNoCase(section->second, name);
    if (existing == section->second.end()) return false;
    section->second.erase(existing);
    return true;
  });
}

RegistryContents Registry::ReadAll() const {
  std::lock_guard<std::mutex> lock(m_mutex);
#if defined(_WIN32)
  if (m_file.empty()) return SystemReadAll();
#endif
  return Load();
}

Registry& Registry::Get() {
  static Registry& registry = [] () -> Registry& {
    static Registry made(DefaultRegistryPath());
    const char* named = std::getenv("QUARN_REGISTRY");
    made.m_createFolder = !named || !*named;
    return made;
  }();
  return registry;
}

void Registry::UseFileForTesting(const std::filesystem::path& file) {
  Registry& registry = Get();
  std::lock_guard<std::mutex> lock(registry.m_mutex);
  registry.m_file = file;
  registry.m_createFolder = true;
#if defined(_WIN32)
  // Programs started with the system's CreateProcessA inherit the
  // environment: they find the same file (or the system's registry)
  // through it.
  _putenv_s("QUARN_REGISTRY", file.string().c_str());
#endif
}

std::filesystem::path Registry::FilePath() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_file;
}

std::string Registry::Place() const {
  const std::filesystem::path file = FilePath();
  return file.empty() ? "the system's registry" : file.string();
}

}  // namespace platform
