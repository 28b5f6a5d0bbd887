#include "platform/archive/vyra.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

CString VyraError::GetText() const {
  switch (m_eCode) {
    case vyraOK:
      return "no error";
    case vyraWrongClass:
      return "the text stores another class ('" + m_strDetail + "')";
    case vyraNoSuchField:
      return "unknown field '" + m_strDetail + "'";
    case vyraMissingField:
      return "field '" + m_strDetail + "' is missing";
    case vyraBadValue:
      return "field '" + m_strDetail + "' does not hold a number of its kind";
    case vyraBadText:
      return "not a stored object: " + m_strDetail;
  }
  return "unknown error";
}

namespace {

// A complete decimal integer that fits an int.
bool ParseInteger(const char* text, std::int64_t& value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  if (parsed < std::numeric_limits<int>::min() || parsed > std::numeric_limits<int>::max()) return false;
  value = parsed;
  return true;
}

// A complete finite decimal number.
bool ParseReal(const char* text, double& value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

}  // namespace

std::int64_t VyraField::GetInteger() const {
  if (m_eKind == kInteger) return m_pGetInteger(m_pMember);
  const double value = m_pGetReal(m_pMember);
  if (!(std::fabs(value) < 9.2e18)) return 0;
  return static_cast<std::int64_t>(value);
}

double VyraField::GetReal() const {
  return m_eKind == kReal ? m_pGetReal(m_pMember) : static_cast<double>(m_pGetInteger(m_pMember));
}

int VyraField::SetInteger(std::int64_t value) {
  if (m_eKind == kReal) return SetReal(static_cast<double>(value));
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return 0;
  m_pSetInteger(m_pMember, value);
  return 1;
}

int VyraField::SetReal(double value) {
  if (!std::isfinite(value)) return 0;
  if (m_eKind == kInteger) {
    if (value != std::trunc(value) || std::fabs(value) > 2147483647.0) return 0;
    return SetInteger(static_cast<std::int64_t>(value));
  }
  if (std::fabs(value) > m_dRealLimit) return 0;
  m_pSetReal(m_pMember, value);
  return 1;
}

CString VyraField::ToText() const {
  CString text;
  if (m_eKind == kInteger) {
    text.Format("%lld", static_cast<long long>(GetInteger()));
  } else {
    // Enough digits that a float or double reads back exactly.
    text.Format("%.17g", GetReal());
  }
  return text;
}

bool VyraField::Accepts(const char* text) const {
  if (m_eKind == kInteger) {
    std::int64_t value = 0;
    return ParseInteger(text, value);
  }
  double value = 0.0;
  return ParseReal(text, value) && std::fabs(value) <= m_dRealLimit;
}

VyraError VyraField::FromText(const char* text) {
  if (!Accepts(text)) return VyraError(vyraBadValue, m_strName);
  if (m_eKind == kInteger) {
    std::int64_t value = 0;
    ParseInteger(text, value);
    SetInteger(value);
  } else {
    double value = 0.0;
    ParseReal(text, value);
    SetReal(value);
  }
  return {};
}

VyraField* VyraObject::FindField(const char* name) {
  for (int i = 0; i < m_Fields.GetSize(); ++i) {
    if (m_Fields[i].GetName() == name) return &m_Fields[i];
  }
  return nullptr;
}

void VyraObject::AddField(const VyraField& field) {
  VyraField copy = field;
  m_Fields.Add(copy);
}

CString VyraObject::Store() const {
  CString text = m_strClassName + "{";
  for (int i = 0; i < m_Fields.GetSize(); ++i) {
    if (i > 0) text += ";";
    text += m_Fields[i].GetName() + "=" + m_Fields[i].ToText();
  }
  text += "}";
  return text;
}

VyraError VyraObject::Load(const char* text) {
  const std::string stored = text ? text : "";
  const std::size_t open = stored.find('{');
  if (open == std::string::npos || stored.empty() || stored.back() != '}') {
    return VyraError(vyraBadText, "expected Class{Name=value;...}");
  }
  if (stored.compare(0, open, m_strClassName.str()) != 0 || open != m_strClassName.str().size()) {
    return VyraError(vyraWrongClass, CString(stored.substr(0, open)));
  }

  // Check every pair before setting any, so that a bad text changes
  // nothing.
  struct Pending {
    int field;
    std::string value;
  };
  std::vector<Pending> pending;
  std::vector<bool> seen(static_cast<std::size_t>(m_Fields.GetSize()), false);
  const std::string body = stored.substr(open + 1, stored.size() - open - 2);
  std::size_t start = 0;
  while (!body.empty() && start <= body.size()) {
    std::size_t stop = body.find(';', start);
    if (stop == std::string::npos) stop = body.size();
    const std::string pair = body.substr(start, stop - start);
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) return VyraError(vyraBadText, CString("no '=' in '" + pair + "'"));
    const std::string name = pair.substr(0, equals);
    int index = -1;
    for (int i = 0; i < m_Fields.GetSize(); ++i) {
      if (m_Fields[i].GetName() == name.c_str()) index = i;
    }
    if (index < 0) return VyraError(vyraNoSuchField, CString(name));
    if (seen[static_cast<std::size_t>(index)]) return VyraError(vyraBadText, CString("field '" + name + "' twice"));
    seen[static_cast<std::size_t>(index)] = true;
    pending.push_back({index, pair.substr(equals + 1)});
    start = stop + 1;
  }
  for (int i = 0; i < m_Fields.GetSize(); ++i) {
    if (!seen[static_cast<std::size_t>(i)]) return VyraError(vyraMissingField, m_Fields[i].GetName());
  }

  for (const Pending& p : pending) {
    if (!m_Fields[p.field].Accepts(p.value.c_str())) return VyraError(vyraBadValue, m_Fields[p.field].GetName());
  }
  for (const Pending& p : pending) m_Fields[p.field].FromText(p.value.c_str());
  return {};
}
