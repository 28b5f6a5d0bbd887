#include "platform/com/comdef.h"

#include <string>

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the rest match their code points.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

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
    const auto b = static_cast<unsigned char>(*p);
    wide += static_cast<OLECHAR>(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b);
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
