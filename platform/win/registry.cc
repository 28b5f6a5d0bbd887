#include "platform/win/registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

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

}  // namespace

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

RegistryContents Registry::Parse(std::string_view text, const std::string& fileName) {
  RegistryContents contents;
  std::map<std::string, RegistryValue>* section = nullptr;
  int lineNo = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty() || line.front() == ';' || line.front() == '#') {
      if (end == text.size()) break;
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) Damaged(fileName, lineNo, "a key line must read [ROOT\\key]");
      const std::string key(line.substr(1, line.size() - 2));
      if (key.rfind("HKEY_LOCAL_MACHINE", 0) != 0 && key.rfind("HKEY_CURRENT_USER", 0) != 0) {
        Damaged(fileName, lineNo, "a key must start with HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER");
      }
      auto found = FindNoCase(contents, key);
      section = found != contents.end() ? &found->second : &contents[key];
    } else if (line.front() == '"') {
      if (!section) Damaged(fileName, lineNo, "a value comes before any [key] line");
      std::string name;
      const size_t after = ReadQuoted(line, 0, name);
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
      } else {
        Damaged(fileName, lineNo, "a value must be dword:XXXXXXXX or a quoted text");
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
  out << "; QuarnControl registry (stand-in for the Windows registry).\n"
         "; One [key] line, then one \"name\"=value line per value:\n"
         "; dword:XXXXXXXX (8 hex digits) or a quoted text with \\\\ and \\\".\n";
  for (const auto& [key, values] : contents) {
    if (values.empty()) continue;
    out << "\n[" << key << "]\n";
    for (const auto& [name, value] : values) {
      out << Quote(name) << '=';
      if (const auto* dword = std::get_if<std::uint32_t>(&value)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "dword:%08x", *dword);
        out << hex;
      } else {
        out << Quote(std::get<std::string>(value));
      }
      out << '\n';
    }
  }
  return out.str();
}

RegistryContents Registry::Load() const {
  std::error_code ec;
  if (!std::filesystem::exists(m_file, ec)) return {};
  std::ifstream in(m_file, std::ios::binary);
  if (!in) throw RegistryError("cannot read the registry file " + m_file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str(), m_file.string());
}

void Registry::Store(const RegistryContents& contents) {
  std::error_code ec;
  if (m_file.has_parent_path()) std::filesystem::create_directories(m_file.parent_path(), ec);
  std::filesystem::path temp = m_file;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << Serialise(contents);
    out.flush();
    if (!out) {
      std::filesystem::remove(temp, ec);
      throw RegistryError("cannot write the registry file " + m_file.string() +
                          " (is its folder writable?)");
    }
  }
  std::filesystem::rename(temp, m_file, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    throw RegistryError("cannot replace the registry file " + m_file.string() + ": " + ec.message());
  }
}

std::optional<RegistryValue> Registry::Read(HKEY root, std::string_view key, std::string_view name) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const RegistryContents contents = Load();
  const auto section = FindNoCase(contents, FullKey(root, key));
  if (section == contents.end()) return std::nullopt;
  const auto value = FindNoCase(section->second, name);
  if (value == section->second.end()) return std::nullopt;
  return value->second;
}

void Registry::Write(HKEY root, std::string_view key, std::string_view name, const RegistryValue& value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  RegistryContents contents = Load();
  const std::string full = FullKey(root, key);
  auto section = FindNoCase(contents, full);
  auto& values = section != contents.end() ? section->second : contents[full];
  auto existing = FindNoCase(values, name);
  if (existing != values.end()) {
    existing->second = value;
  } else {
    values[std::string(name)] = value;
  }
  Store(contents);
}

void Registry::Delete(HKEY root, std::string_view key, std::string_view name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  RegistryContents contents = Load();
  auto section = FindNoCase(contents, FullKey(root, key));
  if (section == contents.end()) return;
  auto existing = FindNoCase(section->second, name);
  if (existing == section->second.end()) return;
  section->second.erase(existing);
  Store(contents);
}

RegistryContents Registry::ReadAll() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return Load();
}

Registry& Registry::Get() {
  static Registry registry(DefaultRegistryPath());
  return registry;
}

void Registry::UseFileForTesting(const std::filesystem::path& file) {
  Registry& registry = Get();
  std::lock_guard<std::mutex> lock(registry.m_mutex);
  registry.m_file = file;
}

std::filesystem::path Registry::FilePath() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_file;
}

}  // namespace platform
