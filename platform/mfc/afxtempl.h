// CArray: the class framework's growable array template.
//
// Contract: `CArray<TYPE, ARG_TYPE>` holds TYPE values by copy; ARG_TYPE is
// how values are passed in (usually `TYPE&` or `const TYPE&`). Indices run
// from 0 to GetSize() - 1. GetAt / ElementAt / operator[] with an index out
// of range are a programming error (checked: std::out_of_range), never
// undefined behaviour. Elements are stored contiguously; references and
// pointers into the array stay valid until the array is resized.
// Thread safety: like std::vector.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <vector>

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray {
 public:
  CArray() = default;

  int GetSize() const { return static_cast<int>(m_items.size()); }
  int GetCount() const { return GetSize(); }
  int GetUpperBound() const { return GetSize() - 1; }
  bool IsEmpty() const { return m_items.empty(); }

  // New elements are value-initialised.
  void SetSize(int size) { m_items.resize(size > 0 ? static_cast<std::size_t>(size) : 0); }
  void RemoveAll() { m_items.clear(); }

  const TYPE& GetAt(int index) const { return m_items.at(Checked(index)); }
  TYPE& ElementAt(int index) { return m_items.at(Checked(index)); }
  void SetAt(int index, ARG_TYPE value) { m_items.at(Checked(index)) = value; }
  TYPE& operator[](int index) { return ElementAt(index); }
  const TYPE& operator[](int index) const { return GetAt(index); }

  // Appends `value`; returns its index.
  int Add(ARG_TYPE value) {
    m_items.push_back(value);
    return GetSize() - 1;
  }
  void InsertAt(int index, ARG_TYPE value) {
    if (index < 0 || index > GetSize()) throw std::out_of_range("CArray::InsertAt");
    m_items.insert(m_items.begin() + index, value);
  }
  void RemoveAt(int index, int count = 1) {
    if (index < 0 || count < 0 || index + count > GetSize()) throw std::out_of_range("CArray::RemoveAt");
    m_items.erase(m_items.begin() + index, m_items.begin() + index + count);
  }

  TYPE* GetData() { return m_items.data(); }
  const TYPE* GetData() const { return m_items.data(); }

 private:
  static std::size_t Checked(int index) {
    if (index < 0) throw std::out_of_range("CArray index");
    return static_cast<std::size_t>(index);
  }

  std::vector<TYPE> m_items;
};
