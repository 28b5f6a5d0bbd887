// One aligned 32-bit value shared between the host's thread and the
// receiving thread without a lock: written and read whole, with relaxed
// ordering. A reader takes whatever was written last; nothing orders two
// different words, and nothing is meant to.
// Thread safety: any thread may load or store at any time.
#pragma once

#include <atomic>
#include <cstdint>

template <class T>
class SharedWord {
  static_assert(sizeof(T) == 4, "a shared value is one 32-bit word");
  static_assert(std::atomic<T>::is_always_lock_free, "a shared value is read and written whole");

 public:
  constexpr explicit SharedWord(T initial = T{}) noexcept : m_value(initial) {}
  SharedWord(const SharedWord&) = delete;
  SharedWord& operator=(const SharedWord&) = delete;

  T Load() const noexcept { return m_value.load(std::memory_order_relaxed); }
  void Store(T value) noexcept { m_value.store(value, std::memory_order_relaxed); }

 private:
  std::atomic<T> m_value;
};
