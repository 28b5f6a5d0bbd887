#include "contract/inlet_system_status.h"

#include <algorithm>
#include <cstring>

// The field widths and order are shared with the host: check them here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#define QUARN_AFTER(prev, next, bytes) \
  static_assert(offsetof(CInletSystemStatus, next) == offsetof(CInletSystemStatus, prev) + (bytes), #next)
struct InletSystemStatusLayout {
  static_assert(sizeof(float) == 4 && sizeof(std::int32_t) == 4);
  QUARN_AFTER(m_nRunning, m_nPostRunning, 4);
  QUARN_AFTER(m_nPostRunning, m_nNotReady, 4);
  QUARN_AFTER(m_nNotReady, m_nError, 4);
  QUARN_AFTER(m_nError, m_szNotReadyInfo, 4);
  QUARN_AFTER(m_szNotReadyInfo, m_szErrorInfo, 512);
  QUARN_AFTER(m_szErrorInfo, m_szStatusInfo, 512);
  QUARN_AFTER(m_szStatusInfo, m_szStopText, 512);
  QUARN_AFTER(m_szStopText, m_fTime, 512);
  QUARN_AFTER(m_fTime, m_nWashOn, 4);
  QUARN_AFTER(m_nWashOn, m_nInjecting, 4);
  QUARN_AFTER(m_nInjecting, m_fSampleTemperature, 4);
  QUARN_AFTER(m_fSampleTemperature, m_fFlow, 4);
  QUARN_AFTER(m_fFlow, m_fPercentA, 4);
  QUARN_AFTER(m_fPercentA, m_fPercentB, 4);
  QUARN_AFTER(m_fPercentB, m_fPercentC, 4);
  QUARN_AFTER(m_fPercentC, m_fPercentD, 4);
  QUARN_AFTER(m_fPercentD, m_fHighPressure, 4);
  QUARN_AFTER(m_fHighPressure, m_fLowPressure, 4);
  QUARN_AFTER(m_fLowPressure, m_nPumpOn, 4);
  QUARN_AFTER(m_nPumpOn, m_nLamp, 4);
  QUARN_AFTER(m_nLamp, m_nDadScan, 4);
  QUARN_AFTER(m_nDadScan, m_nDadAcquiring, 4);
  QUARN_AFTER(m_nDadAcquiring, m_fTemperatureLeft, 4);
  QUARN_AFTER(m_fTemperatureLeft, m_fTemperatureRight, 4);
  static_assert(offsetof(CInletSystemStatus, m_fTemperatureRight) + 4 - offsetof(CInletSystemStatus, m_nRunning) ==
                4 * 4 + 4 * 512 + 17 * 4);
  // The fields follow the object's one pointer-sized member (its table of
  // virtual functions): 4 bytes in the 32-bit host, and nothing after them
  // but the padding to the pointer's alignment.
  static_assert(offsetof(CInletSystemStatus, m_nRunning) == sizeof(void*));
  static_assert(sizeof(CInletSystemStatus) ==
                (sizeof(void*) + 4 * 4 + 4 * 512 + 17 * 4 + alignof(void*) - 1) / alignof(void*) * alignof(void*));
#if defined(_WIN32) && !defined(_WIN64)
  static_assert(sizeof(CInletSystemStatus) == 2136, "the record as the 32-bit host lays it out");
#endif
};
#pragma GCC diagnostic pop
#undef QUARN_AFTER

CInletSystemStatus::CInletSystemStatus()
    : m_nRunning(0),
      m_nPostRunning(0),
      m_nNotReady(0),
      m_nError(0),
      m_szNotReadyInfo{},
      m_szErrorInfo{},
      m_szStatusInfo{},
      m_szStopText{},
      m_fTime(0),
      m_nWashOn(0),
      m_nInjecting(0),
      m_fSampleTemperature(0),
      m_fFlow(0),
      m_fPercentA(100.0f),
      m_fPercentB(0),
      m_fPercentC(0),
      m_fPercentD(0),
      m_fHighPressure(0),
      m_fLowPressure(0),
      m_nPumpOn(0),
      m_nLamp(0),
      m_nDadScan(0),
      m_nDadAcquiring(0),
      m_fTemperatureLeft(0),
      m_fTemperatureRight(0) {}

CInletSystemStatus::CInletSystemStatus(const CInletSystemStatus& other) : CObject(other) { *this = other; }

CInletSystemStatus& CInletSystemStatus::operator=(const CInletSystemStatus& other) {
  if (this == &other) return *this;
  m_nRunning = other.m_nRunning;
  m_nPostRunning = other.m_nPostRunning;
  m_nNotReady = other.m_nNotReady;
  m_nError = other.m_nError;
  std::memcpy(m_szNotReadyInfo, other.m_szNotReadyInfo, kTextSize);
  std::memcpy(m_szErrorInfo, other.m_szErrorInfo, kTextSize);
  std::memcpy(m_szStatusInfo, other.m_szStatusInfo, kTextSize);
  std::memcpy(m_szStopText, other.m_szStopText, kTextSize);
  m_fTime = other.m_fTime;
  m_nWashOn = other.m_nWashOn;
  m_nInjecting = other.m_nInjecting;
  m_fSampleTemperature = other.m_fSampleTemperature;
  m_fFlow = other.m_fFlow;
  m_fPercentA = other.m_fPercentA;
  m_fPercentB = other.m_fPercentB;
  m_fPercentC = other.m_fPercentC;
  m_fPercentD = other.m_fPercentD;
  m_fHighPressure = other.m_fHighPressure;
  m_fLowPressure = other.m_fLowPressure;
  m_nPumpOn = other.m_nPumpOn;
  m_nLamp = other.m_nLamp;
  m_nDadScan = other.m_nDadScan;
  m_nDadAcquiring = other.m_nDadAcquiring;
  m_fTemperatureLeft = other.m_fTemperatureLeft;
  m_fTemperatureRight = other.m_fTemperatureRight;
  return *this;
}

CInletSystemStatus::~CInletSystemStatus() = default;

void CInletSystemStatus::StoreText(char (&buffer)[kTextSize], const CString& text) {
  const size_t n = std::min(static_cast<size_t>(text.GetLength()), static_cast<size_t>(kTextSize - 1));
  std::memset(buffer, 0, kTextSize);
  std::memcpy(buffer, text.GetString(), n);
}

namespace {
// Texts are equal up to their NULs; the buffers are always terminated.
bool SameText(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wfloat-equal"
bool SameFloat(float a, float b) { return a == b; }
#pragma GCC diagnostic pop

int Normalised(int a, int b) { return (a != 0 || b != 0) ? 1 : 0; }
}  // namespace

int CInletSystemStatus::operator==(const CInletSystemStatus& o) const {
  // The order of the comparisons is part of the contract: the first
  // difference decides.
  if (m_nRunning != o.m_nRunning) return 0;
  if (m_nPostRunning != o.m_nPostRunning) return 0;
  if (m_nNotReady != o.m_nNotReady) return 0;
  if (m_nError != o.m_nError) return 0;
  if (!SameFloat(m_fTime, o.m_fTime)) return 0;
  if (!SameText(m_szStatusInfo, o.m_szStatusInfo)) return 0;
  if (!SameText(m_szNotReadyInfo, o.m_szNotReadyInfo)) return 0;
  if (!SameText(m_szErrorInfo, o.m_szErrorInfo)) return 0;
  if (!SameText(m_szStopText, o.m_szStopText)) return 0;
  if (m_nInjecting != o.m_nInjecting) return 0;
  if (m_nWashOn != o.m_nWashOn) return 0;
  if (m_nLamp != o.m_nLamp) return 0;
  if (m_nDadScan != o.m_nDadScan) return 0;
  if (m_nDadAcquiring != o.m_nDadAcquiring) return 0;
  if (m_nPumpOn != o.m_nPumpOn) return 0;
  if (!SameFloat(m_fPercentA, o.m_fPercentA)) return 0;
  if (!SameFloat(m_fPercentB, o.m_fPercentB)) return 0;
  if (!SameFloat(m_fPercentC, o.m_fPercentC)) return 0;
  if (!SameFloat(m_fPercentD, o.m_fPercentD)) return 0;
  if (!SameFloat(m_fHighPressure, o.m_fHighPressure)) return 0;
  if (!SameFloat(m_fFlow, o.m_fFlow)) return 0;
  if (!SameFloat(m_fLowPressure, o.m_fLowPressure)) return 0;
  if (!SameFloat(m_fTemperatureLeft, o.m_fTemperatureLeft)) return 0;
  if (!SameFloat(m_fTemperatureRight, o.m_fTemperatureRight)) return 0;
  if (!SameFloat(m_fSampleTemperature, o.m_fSampleTemperature)) return 0;
  return 1;
}

CInletSystemStatus& CInletSystemStatus::operator|=(const CInletSystemStatus& o) {
  m_nRunning = Normalised(m_nRunning, o.m_nRunning);
  m_nPostRunning = Normalised(m_nPostRunning, o.m_nPostRunning);
  m_nNotReady = Normalised(m_nNotReady, o.m_nNotReady);
  m_nWashOn = Normalised(m_nWashOn, o.m_nWashOn);
  m_nInjecting = Normalised(m_nInjecting, o.m_nInjecting);
  m_nPumpOn = Normalised(m_nPumpOn, o.m_nPumpOn);
  m_nLamp = Normalised(m_nLamp, o.m_nLamp);
  m_nDadAcquiring = Normalised(m_nDadAcquiring, o.m_nDadAcquiring);

  // An error stands only when both readings report one; a definite error
  // (1) outranks an unknown one (-1); any other pair keeps the left value.
  if (m_nError == 0 || o.m_nError == 0) {
    m_nError = 0;
  } else if (m_nError == 1 || o.m_nError == 1) {
    m_nError = 1;
  } else if (m_nError == -1 || o.m_nError == -1) {
    m_nError = -1;
  }
  return *this;
}
