// The lock classes and the guarded-value template of the server path.
//
// CMultithreaded: base of the locks; waits on a waitable handle (null in
// every object of this program, so its own Lock reports failure).
// CCriticalSectionWrapper: a critical section; Lock enters it whatever the
// time-out and Unlock leaves it; both return TRUE.
// CTSafe<T>: a value behind a critical section. Get copies the value out
// and Set assigns and copies it out, each under the lock held only for the
// copy; an update made of a Get and a Set is two separate locked steps.
// Thread safety: CTSafe's Get and Set may be called from any thread.
#pragma once

#include "platform/win/windows.h"

class CMultithreaded {
 public:
  CMultithreaded() = default;
  CMultithreaded(const CMultithreaded&) = delete;
  CMultithreaded& operator=(const CMultithreaded&) = delete;

  virtual BOOL Unlock() { return TRUE; }
  virtual BOOL Lock(DWORD dwTimeout) { return WaitForSingleObject(m_hHandle, dwTimeout) == WAIT_OBJECT_0; }
  virtual HANDLE GetHandle() { return m_hHandle; }
  virtual ~CMultithreaded() {
    if (m_hHandle) CloseHandle(m_hHandle);
  }

 protected:
  HANDLE m_hHandle = nullptr;
};

class CCriticalSectionWrapper : public CMultithreaded {
 public:
  CCriticalSectionWrapper() { InitializeCriticalSection(&m_CriticalSection); }
  BOOL Unlock() override {
    m_bLocked = 0;
    LeaveCriticalSection(&m_CriticalSection);
    return TRUE;
  }
  BOOL Lock(DWORD) override {
    EnterCriticalSection(&m_CriticalSection);
    m_bLocked = 1;
    return TRUE;
  }
  ~CCriticalSectionWrapper() override { DeleteCriticalSection(&m_CriticalSection); }

 private:
  CRITICAL_SECTION m_CriticalSection;
  int m_bLocked = 0;
};

template <class T>
class CTSafe {
 public:
  CTSafe() = default;
  CTSafe(const CTSafe&) = delete;
  CTSafe& operator=(const CTSafe&) = delete;
  virtual ~CTSafe() = default;

  T Get() const {
    m_Lock.Lock(INFINITE);
    T copy = m_Value;
    m_Lock.Unlock();
    return copy;
  }
  T Set(const T& value) {
    m_Lock.Lock(INFINITE);
    m_Value = value;
    T copy = m_Value;
    m_Lock.Unlock();
    return copy;
  }

 private:
  T m_Value{};
  mutable CCriticalSectionWrapper m_Lock;
};
