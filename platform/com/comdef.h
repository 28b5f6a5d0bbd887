// The compiler's COM support library: the reference-counted BSTR wrapper
// `_bstr_t` and the error `_com_error` it raises.
//
// Contract (as the Windows comutil.h / comdef.h declare them):
//  - `_bstr_t` shares one BSTR among its copies through a reference count
//    that is safe across threads; the BSTR is freed with the last copy.
//    A default `_bstr_t` holds no text (null). Making one from a non-null
//    text whose BSTR cannot be allocated raises `_com_error(E_OUTOFMEMORY)`
//    through `_com_issue_error`.
//  - Texts from `const char*` are Windows-1252 bytes, widened to 16 bits.
// Thread safety: one object must not be changed by two threads at once;
// copies may live on different threads.
#pragma once

#include <atomic>

#include "platform/com/com.h"

class _com_error {
 public:
  explicit _com_error(HRESULT hr) noexcept : m_hresult(hr) {}
  HRESULT Error() const noexcept { return m_hresult; }

 private:
  HRESULT m_hresult;
};

[[noreturn]] void _com_issue_error(HRESULT hr);

class _bstr_t {
 public:
  _bstr_t() noexcept = default;
  _bstr_t(const _bstr_t& other) noexcept;
  _bstr_t(const char* text);      // NOLINT: implicit as in the library
  _bstr_t(const OLECHAR* text);   // NOLINT
  // Takes `bstr` (fCopy false: this wrapper now owns it) or a copy of it.
  _bstr_t(BSTR bstr, bool fCopy);
  ~_bstr_t();

  _bstr_t& operator=(const _bstr_t& other) noexcept;
  _bstr_t& operator=(const OLECHAR* text);

  operator const OLECHAR*() const noexcept { return m_pData ? m_pData->m_wstr : nullptr; }  // NOLINT
  operator OLECHAR*() const noexcept { return m_pData ? m_pData->m_wstr : nullptr; }        // NOLINT
  bool operator!() const noexcept { return !m_pData || !m_pData->m_wstr; }
  bool operator==(const _bstr_t& other) const noexcept;
  bool operator!=(const _bstr_t& other) const noexcept { return !(*this == other); }

  unsigned int length() const noexcept { return m_pData ? SysStringLen(m_pData->m_wstr) : 0; }
  // A new BSTR with the text (fCopy) or the shared one itself.
  BSTR copy(bool fCopy = true) const;
  // Replaces the text by `bstr`, which this wrapper now owns.
  void Attach(BSTR bstr);
  // Gives up the text: the caller owns the returned BSTR.
  BSTR Detach();

 private:
  struct Data_t {
    BSTR m_wstr;
    std::atomic<unsigned long> m_RefCount{1};
  };
  void Free() noexcept;

  Data_t* m_pData = nullptr;
};
