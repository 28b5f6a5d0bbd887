// CString: the class framework's single-byte string.
//
// Contract: holds bytes of Windows-1252 text (no conversion is ever made:
// µ is the byte 0xB5, ° the byte 0xB0). Copies are independent values.
// Converts implicitly to `const char*`, which stays valid until the string
// is next changed or destroyed. A null `const char*` makes an empty string.
// Comparison is byte-wise and case-sensitive.
// Thread safety: like std::string; one object must not be changed by two
// threads at once.
#pragma once

#include <compare>
#include <cstdarg>
#include <string>
#include <string_view>

class CString {
 public:
  CString() = default;
  CString(const char* text) : m_str(text ? text : "") {}  // NOLINT: implicit as in the framework
  CString(const char* text, int length);
  CString(std::string_view text) : m_str(text) {}  // NOLINT
  CString(char ch, int repeat = 1);

  // Length in bytes.
  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }

  operator const char*() const { return m_str.c_str(); }  // NOLINT
  const char* GetString() const { return m_str.c_str(); }
  char GetAt(int index) const { return m_str.at(static_cast<size_t>(index)); }

  // printf-style formatting that replaces the contents.
  void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void FormatV(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
  // printf-style formatting appended to the contents.
  void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

  CString& operator=(const char* text);
  CString& operator+=(const CString& other);
  CString& operator+=(const char* text);
  CString& operator+=(char ch);

  int Compare(const char* other) const;
  int Find(char ch, int start = 0) const;
  int Find(const char* sub, int start = 0) const;
  CString Left(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Right(int count) const;
  void TrimLeft();
  void TrimRight();
  void Trim();
  CString& MakeUpper();

  // Stand-in extensions for code outside the product (tests, host).
  const std::string& str() const { return m_str; }
  std::string_view view() const { return m_str; }

  friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
  friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
  friend std::strong_ordering operator<=>(const CString& a, const CString& b) {
    return a.m_str.compare(b.m_str) <=> 0;
  }

  friend CString operator+(const CString& a, const CString& b);
  friend CString operator+(const CString& a, const char* b);
  friend CString operator+(const char* a, const CString& b);
  friend CString operator+(const CString& a, char b);

 private:
  std::string m_str;
};
