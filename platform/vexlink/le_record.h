// Little-endian record access: the one place where the byte order of the
// instrument network's records is written down.
//
// Fixed-length numbers are stored least-significant byte first, whatever
// the byte order of the machine. A record field is a type naming its
// place, `le::Field<T, Offset>`; a table of equal rows inside a record is
// `le::Table<Offset, RowSize, Count>`.
//  - `Record<N>` owns N bytes, zero at construction.
//  - `View<N>` reads N bytes of a buffer it borrows; the caller guarantees
//    that the buffer holds N bytes for the view's lifetime.
// A field that does not fit inside its record is a compile error, so no
// field access can leave the buffer. A table row is chosen at run time:
// an index outside the table yields a null row, which reads 0 and ignores
// writes.
// Header-only; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace le {

using Byte = unsigned char;

template <class T>
concept Number = std::is_integral_v<T> && !std::is_same_v<T, bool> && (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4);

template <Number T>
constexpr T Load(const Byte* p) noexcept {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return static_cast<T>(static_cast<std::make_unsigned_t<T>>(value));
}

template <Number T>
constexpr void Store(Byte* p, T value) noexcept {
  const auto bits = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<T>>(value));
  for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<Byte>(bits >> (8 * i));
}

template <Number T, std::size_t Offset>
struct Field {
  using Type = T;
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kEnd = Offset + sizeof(T);
};

// A NUL-terminated text in a field of `Width` bytes (the text may fill
// the field without a NUL).
template <std::size_t Offset, std::size_t Width>
struct TextField {
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kEnd = Offset + Width;
};

template <std::size_t Offset, std::size_t RowSize, std::size_t Count>
struct Table {
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kRowSize = RowSize;
  static constexpr std::size_t kCount = Count;
  static constexpr std::size_t kEnd = Offset + RowSize * Count;
};

template <std::size_t RowSize>
class ConstRowRef;

// Read access shared by owned records, views and rows of `N` bytes.
template <std::size_t N, class Derived>
class Reader {
 public:
  static constexpr std::size_t kSize = N;

  template <class F>
  constexpr typename F::Type Get() const noexcept {
    static_assert(F::kEnd <= N, "field lies outside the record");
    const Byte* p = Bytes();
    return p ? Load<typename F::Type>(p + F::kOffset) : typename F::Type{};
  }

  template <class F>
  std::string_view Text() const noexcept {
    static_assert(F::kEnd <= N, "text lies outside the record");
    const Byte* p = Bytes();
    if (!p) return {};
    const char* text = reinterpret_cast<const char*>(p + F::kOffset);
    constexpr std::size_t kWidth = F::kEnd - F::kOffset;
    const void* nul = std::memchr(text, 0, kWidth);
    return {text, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : kWidth};
  }

  // Row `index` of table T; a null row when the index is outside T.
  template <class T>
  ConstRowRef<T::kRowSize> Row(std::size_t index) const noexcept {
    static_assert(T::kEnd <= N, "table lies outside the record");
    const Byte* p = Bytes();
    return ConstRowRef<T::kRowSize>(p && index < T::kCount ? p + T::kOffset + index * T::kRowSize : nullptr);
  }

 private:
  const Byte* Bytes() const noexcept { return static_cast<const Derived*>(this)->Data(); }
};

template <std::size_t RowSize>
class ConstRowRef : public Reader<RowSize, ConstRowRef<RowSize>> {
 public:
  explicit ConstRowRef(const Byte* p) noexcept : m_p(p) {}
  bool IsNull() const noexcept { return m_p == nullptr; }
  const Byte* Data() const noexcept { return m_p; }

 private:
  const Byte* m_p;
};

template <std::size_t RowSize>
class RowRef : public Reader<RowSize, RowRef<RowSize>> {
 public:
  explicit RowRef(Byte* p) noexcept : m_p(p) {}
  bool IsNull() const noexcept { return m_p == nullptr; }
  const Byte* Data() const noexcept { return m_p; }

  template <class F>
  void Set(typename F::Type value) noexcept {
    static_assert(F::kEnd <= RowSize, "field lies outside the row");
    if (m_p) Store(m_p + F::kOffset, value);
  }
  void Clear() noexcept {
    if (m_p) std::memset(m_p, 0, RowSize);
  }

 private:
  Byte* m_p;
};

template <std::size_t N>
class View : public Reader<N, View<N>> {
 public:
  // REQUIRES: `bytes` holds at least N bytes while the view is used.
  explicit View(const void* bytes) noexcept : m_p(static_cast<const Byte*>(bytes)) {}
  const Byte* Data() const noexcept { return m_p; }

 private:
  const Byte* m_p;
};

template <std::size_t N>
class Record : public Reader<N, Record<N>> {
 public:
  const Byte* Data() const noexcept { return m_bytes; }
  Byte* Data() noexcept { return m_bytes; }

  template <class F>
  void Set(typename F::Type value) noexcept {
    static_assert(F::kEnd <= N, "field lies outside the record");
    Store(m_bytes + F::kOffset, value);
  }

  using Reader<N, Record<N>>::Row;
  template <class T>
  RowRef<T::kRowSize> Row(std::size_t index) noexcept {
    static_assert(T::kEnd <= N, "table lies outside the record");
    return RowRef<T::kRowSize>(index < T::kCount ? m_bytes + T::kOffset + index * T::kRowSize : nullptr);
  }

  void Clear() noexcept { std::memset(m_bytes, 0, N); }

 private:
  Byte m_bytes[N] = {};
};

}  // namespace le
