#include "platform/com/comdef.h"

#include <string>

#include "platform/inlet/text.h"

namespace {

BSTR AllocOrThrow(const OLECHAR* text, UINT length) {
  BSTR bstr = SysAllocStringLen(text, length);
  if (!bstr) _com_issue_error(E_OUTOFMEMORY);
  return bstr;
}

}  // namespace

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

_bstr_t::_bstr_t(const _bstr_t& other) noexcept : m_pData(other.m_pData) {
  if (m_pData) m_pData->m_RefCount.fetch_add(1, std::memory_order_relaxed);
}

_bstr_t::_bstr_t(const char* text) {
  if (!text) return;
  std::basic_string<OLECHAR> wide;
  for (const char* p = text; *p; ++p) {
    // The system's code page: Windows-1252, whose five unassigned bytes
    // become the control characters of their own values.
    const auto b = static_cast<unsigned char>(*p);
    const char32_t c = platform::FromWindows1252(b);
    wide += static_cast<OLECHAR>(c == 0xFFFD ? b : c);
  }
  BSTR bstr = AllocOrThrow(wide.data(), static_cast<UINT>(wide.size()));
  m_pData = new Data_t{bstr};
}

_bstr_t::_bstr_t(const OLECHAR* text) {
  if (!text) return;
  UINT length = 0;
  while (text[length] != 0) ++length;
  BSTR bstr = AllocOrThrow(text, length);
  m_pData = new Data_t{bstr};
}

_bstr_t::_bstr_t(BSTR bstr, bool fCopy) {
  if (fCopy && bstr) bstr = AllocOrThrow(bstr, SysStringLen(bstr));
  m_pData = new Data_t{bstr};
}

_bstr_t::~_bstr_t() { Free(); }

void _bstr_t::Free() noexcept {
  if (m_pData && m_pData->m_RefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    SysFreeString(m_pData->m_wstr);
    delete m_pData;
  }
  m_pData = nullptr;
}

_bstr_t& _bstr_t::operator=(const _bstr_t& other) noexcept {
  if (m_pData != other.m_pData) {
    if (other.m_pData) other.m_pData->m_RefCount.fetch_add(1, std::memory_order_relaxed);
    Free();
    m_pData = other.m_pData;
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(const OLECHAR* text) {
  _bstr_t fresh(text);
  *this = fresh;
  return *this;
}

bool _bstr_t::operator==(const _bstr_t& other) const noexcept {
  const OLECHAR* a = *this;
  const OLECHAR* b = other;
  const unsigned int n = length();
  if (n != other.length()) return false;
  for (unsigned int i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

BSTR _bstr_t::copy(bool fCopy) const {
  BSTR mine = *this;
  if (!fCopy || !mine) return mine;
  return AllocOrThrow(mine, SysStringLen(mine));
}

void _bstr_t::Attach(BSTR bstr) {
  Free();
  m_pData = new Data_t{bstr};
}

BSTR _bstr_t::Detach() {
  if (!m_pData) return nullptr;
  if (m_pData->m_RefCount.load() != 1) {
    BSTR result = copy(true);
    Free();
    return result;
  }
  BSTR result = m_pData->m_wstr;
  m_pData->m_wstr = nullptr;
  Free();
  return result;
}
