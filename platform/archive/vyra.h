// The host framework's object-archive library: objects that describe their
// own data as an array of named fields, so that they can be stored as text
// and read back without knowing the class.
//
// Contract:
//  - A `VyraField` binds a name to one data member of its owning object:
//    an integer (int or an int-sized enumeration) or a real (float or
//    double). It reads and writes that member in place; it owns nothing.
//  - A `VyraObject` holds its class name and its field array
//    (`CArray<VyraField, VyraField&>`), filled by the derived class's
//    constructor. Because fields point into the object, a derived class
//    that can be copied rebuilds its fields in its copy constructor and
//    keeps them on assignment (copy the members, not the fields).
//  - Store() writes "Class{Name=value;Name=value}"; Load() reads that form
//    back into the bound members. Load() either sets every field or none:
//    a text naming another class, an unknown or missing field, or a value
//    that is not a number of the field's kind gives a `VyraError` and
//    leaves the object unchanged.
// Thread safety: an object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "platform/mfc/afxtempl.h"
#include "platform/mfc/afxwin.h"

enum VyraErrorCode {
  vyraOK = 0,
  vyraWrongClass = 1,    // the text stores another class
  vyraNoSuchField = 2,   // a field name the object does not have
  vyraMissingField = 3,  // a field of the object is absent from the text
  vyraBadValue = 4,      // a value is not a number of the field's kind
  vyraBadText = 5,       // the text is not in the stored form
};

class VyraError {
 public:
  VyraError() = default;
  VyraError(VyraErrorCode code, const CString& detail) : m_eCode(code), m_strDetail(detail) {}

  VyraErrorCode GetCode() const { return m_eCode; }
  bool IsOK() const { return m_eCode == vyraOK; }
  // A one-line description, e.g. "unknown field 'Tme'".
  CString GetText() const;

 private:
  VyraErrorCode m_eCode = vyraOK;
  CString m_strDetail;
};

class VyraField {
 public:
  enum Kind { kInteger, kReal };

  VyraField() = default;

  // Binds `name` to an int, or an enumeration whose underlying type is int.
  template <class T>
  static VyraField Integer(const char* name, T* member) {
    static_assert(std::is_same_v<T, int> || (std::is_enum_v<T> && std::is_same_v<std::underlying_type_t<T>, int>),
                  "an integer field binds an int or an int-based enumeration");
    VyraField field(name, kInteger, member);
    field.m_pGetInteger = [](const void* p) { return static_cast<std::int64_t>(*static_cast<const T*>(p)); };
    field.m_pSetInteger = [](void* p, std::int64_t v) { *static_cast<T*>(p) = static_cast<T>(v); };
    return field;
  }
  template <class T>
  static VyraField Real(const char* name, T* member) {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>, "a real field binds a float or double");
    VyraField field(name, kReal, member);
    field.m_pGetReal = [](const void* p) { return static_cast<double>(*static_cast<const T*>(p)); };
    field.m_pSetReal = [](void* p, double v) { *static_cast<T*>(p) = static_cast<T>(v); };
    field.m_dRealLimit = static_cast<double>(std::numeric_limits<T>::max());
    return field;
  }

  const CString& GetName() const { return m_strName; }
  Kind GetKind() const { return m_eKind; }

  // REQUIRES: the field is bound. Integer access to a real field truncates
  // toward zero; real access to an integer field converts.
  std::int64_t GetInteger() const;
  double GetReal() const;
  // Values the member cannot hold (outside the int range, beyond the
  // float range, not finite) are refused: 0 is returned and the member
  // keeps its value. A real value set on an integer field must be whole.
  int SetInteger(std::int64_t value);
  int SetReal(double value);

  // The value as stored text ("8", "1.5"), and back. Accepts tells whether
  // FromText would take the text: a complete decimal number of the field's
  // kind that the member can hold. FromText returns vyraBadValue otherwise
  // and leaves the member unchanged.
  CString ToText() const;
  bool Accepts(const char* text) const;
  VyraError FromText(const char* text);

 private:
  VyraField(const char* name, Kind kind, void* member) : m_strName(name), m_eKind(kind), m_pMember(member) {}

  CString m_strName;
  Kind m_eKind = kInteger;
  void* m_pMember = nullptr;
  std::int64_t (*m_pGetInteger)(const void*) = nullptr;
  void (*m_pSetInteger)(void*, std::int64_t) = nullptr;
  double (*m_pGetReal)(const void*) = nullptr;
  void (*m_pSetReal)(void*, double) = nullptr;
  double m_dRealLimit = 0.0;  // largest magnitude the real member holds
};

class VyraObject : public CObject {
 public:
  explicit VyraObject(const char* className) : m_strClassName(className) {}
  // Copies only the class name: the derived copy binds its own fields.
  VyraObject(const VyraObject& other) : CObject(other), m_strClassName(other.m_strClassName) {}
  // Keeps this object's fields (they point at this object's members).
  VyraObject& operator=(const VyraObject&) { return *this; }
  ~VyraObject() override = default;

  const CString& GetClassName() const { return m_strClassName; }
  int GetFieldCount() const { return m_Fields.GetSize(); }
  VyraField& GetField(int index) { return m_Fields.ElementAt(index); }
  const VyraField& GetField(int index) const { return m_Fields.GetAt(index); }
  // The field called `name` (case-sensitive), or null.
  VyraField* FindField(const char* name);

  CString Store() const;
  VyraError Load(const char* text);

 protected:
  void AddField(const VyraField& field);

 private:
  CString m_strClassName;
  CArray<VyraField, VyraField&> m_Fields;
};
