// The driver library's records rendered field by field, by the names of
// their wire formats (platform/vexlink/), so that a golden file reads in a
// diff. Bytes that no rendered field holds are listed when they are not 0
// ("other bytes: 0x18=05"): a rendering is as strict as the bytes.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/vexlink/download_records.h"

namespace testing_support {

class WireFields {
 public:
  explicit WireFields(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)), m_read(m_bytes.size()) {}

  // Field F, `base` bytes into the record (a table's row); 0 past its end.
  template <class F>
  long long Take(std::size_t base = 0) {
    if (base + F::kEnd > m_bytes.size()) return 0;
    Skip(base + F::kOffset, base + F::kEnd);
    return le::Load<typename F::Type>(m_bytes.data() + base + F::kOffset);
  }
  // "name=value ..." of fields F, in order.
  template <class... F>
  std::string Named(const std::array<const char*, sizeof...(F)>& names) {
    std::string text;
    std::size_t i = 0;
    ((text += std::string(i ? " " : "") + names[i] + "=" + std::to_string(Take<F>()), ++i), ...);
    return text;
  }
  void Skip(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to && i < m_read.size(); ++i) m_read[i] = true;
  }
  bool Any(std::size_t from, std::size_t to) const {
    for (std::size_t i = from; i < to && i < m_bytes.size(); ++i) {
      if (m_bytes[i] != 0) return true;
    }
    return false;
  }
  // " other bytes: 0x18=05 ..." for the bytes no field held that are not 0.
  std::string Rest() const {
    std::string text;
    for (std::size_t i = 0; i < m_bytes.size(); ++i) {
      char byte[24];
      std::snprintf(byte, sizeof byte, " 0x%zx=%02x", i, m_bytes[i]);
      if (m_bytes[i] != 0 && !m_read[i]) text += (text.empty() ? " other bytes:" : "") + std::string(byte);
    }
    return text;
  }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::vector<bool> m_read;
};

template <class F>
long long FieldOf(const std::vector<std::uint8_t>& bytes) {
  return WireFields(bytes).Take<F>();
}

// The analysis file as the units read it: its words, its counted lines
// ("initial 0x0101 at -1: code 0 = 1000 0 0"), an initial line past the
// count that is not blank (all 0 but the time) as STALE, and its units.
inline std::string DescribeAnlsFile(const std::vector<std::uint8_t>& file) {
  WireFields f(file);
  char text[160];
  const long long system = f.Take<AnlsFile::SystemCode>(), word = f.Take<AnlsFile::Reserved>();
  std::snprintf(text, sizeof text, "system code 0x%llx, word %lld, signature %lld\n", system, word,
                f.Take<AnlsFile::Signature>());
  std::string out = text;
  const long long counts[] = {f.Take<AnlsFile::InitialCount>(), f.Take<AnlsFile::TimetableCount>()};
  for (int t = 0; t < 2; ++t) {
    for (std::size_t i = 0; i < (t ? 64u : 32u); ++i) {
      const std::size_t at = (t ? AnlsFile::TimetableLines::kOffset : AnlsFile::InitialLines::kOffset) + i * 44;
      const long long unit = f.Take<AnlsLine::Unit>(at), time = f.Take<AnlsLine::TimeMs>(at);
      const bool counted = static_cast<long long>(i) < counts[t];
      if (!counted && (t == 1 || ((time == 0 || time == -1) && !f.Any(at, at + 4) && !f.Any(at + 8, at + 44)))) {
        f.Skip(at, at + 44);
        continue;
      }
      const long long code = f.Take<AnlsLine::Code>(at), p0 = f.Take<AnlsLine::P0>(at);
      std::snprintf(text, sizeof text, "%s%s 0x%04llx at %lld: code %lld = %lld %lld %lld\n", counted ? "" : "STALE ",
                    t ? "timetable" : "initial", unit, time, code, p0, f.Take<AnlsLine::P1>(at),
                    f.Take<AnlsLine::P2>(at));
      out += text;
    }
  }
  out += "units:";
  using Units = AnlsFile::UnitList;
  for (std::size_t at = Units::kOffset; at < Units::kEnd; at += 2) {
    if (const long long unit = f.Take<AnlsFile::UnitEntry>(at)) {
      std::snprintf(text, sizeof text, " %s0x%04llx", at == Units::kOffset || f.Any(at - 2, at) ? "" : "STALE ", unit);
      out += text;
    }
  }
  return out + f.Rest() + "\n";
}

}  // namespace testing_support
