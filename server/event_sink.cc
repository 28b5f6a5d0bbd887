#include "server/event_sink.h"

#include "platform/com/afxctl.h"

CEventSink::CEventSink(int bNoSelfDelete) : CSimpleDispatch(bNoSelfDelete) {}

CEventSink::~CEventSink() = default;

namespace {

// Argument `index` (first parameter 0) of `count`, converted to `type`;
// an argument that does not convert stays empty.
void TakeArgument(const DISPPARAMS& params, UINT count, UINT index, VARTYPE type, CSafeVariant& out) {
  if (FAILED(out.Copy(params.rgvarg[count - 1 - index])) || FAILED(out.ChangeType(type))) {
    VariantClear(&out);
  }
}

short Short(const CSafeVariant& v) { return v.vt == VT_I2 ? v.iVal : 0; }
long Long(const CSafeVariant& v) { return v.vt == VT_I4 ? v.lVal : 0; }
BSTR Text(const CSafeVariant& v) { return v.vt == VT_BSTR ? v.bstrVal : nullptr; }

}  // namespace

STDMETHODIMP CEventSink::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                                EXCEPINFO*, UINT*) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (dispIdMember != DISPID_HplcMessage && dispIdMember != DISPID_ErrorEvent) return S_OK;
  const UINT expected = dispIdMember == DISPID_HplcMessage ? 5 : 4;
  if (!pDispParams || pDispParams->cArgs != expected || !pDispParams->rgvarg) return DISP_E_BADPARAMCOUNT;
  try {
    CSafeVariant args[5];
    if (dispIdMember == DISPID_HplcMessage) {
      const VARTYPE types[5] = {VT_I2, VT_I2, VT_I4, VT_BSTR, VT_BSTR};
      for (UINT i = 0; i < 5; ++i) TakeArgument(*pDispParams, 5, i, types[i], args[i]);
      return HplcMessage(Short(args[0]), Short(args[1]), Long(args[2]), Text(args[3]), Text(args[4]));
    }
    const VARTYPE types[4] = {VT_I2, VT_I2, VT_I2, VT_BSTR};
    for (UINT i = 0; i < 4; ++i) TakeArgument(*pDispParams, 4, i, types[i], args[i]);
    return ErrorEvent(Short(args[0]), Short(args[1]), Short(args[2]), Text(args[3]));
  } catch (const _com_error& e) {
    return e.Error();  // a text that could not be copied: nothing changed
  }
}

STDMETHODIMP CEventSink::HplcMessage(short, short, long nMessage, BSTR, BSTR) {
  STSharedData data = m_SharedData.Get();
  switch (nMessage) {
    case 1024:
    case 1026:
    case 1027:
    case 1029:
    case 1032:
      data.bCommsOK = 1;
      data.bMethodRunning = 0;
      break;
    case 1025:
      data.bCommsOK = 1;
      data.bMethodRunning = 1;
      break;
    case 1033:
      data.bCommsOK = 0;
      break;
    case 0x10405:
      data.bStepDataReceived = 1;
      break;
    default:
      data.bCommsOK = 1;
      break;
  }
  m_SharedData.Set(data);
  return S_OK;
}

STDMETHODIMP CEventSink::ChangeStatus(short, short, BSTR) { return S_OK; }
STDMETHODIMP CEventSink::MeasrureSpectrum(short, short, BSTR) { return S_OK; }
STDMETHODIMP CEventSink::WarningEvent(short, short, short, BSTR) { return S_OK; }

STDMETHODIMP CEventSink::ErrorEvent(short nUnitType, short nSubCode, short nErrorBits, BSTR bstrText) {
  STSharedData data = m_SharedData.Get();
  data.bInError = 1;
  data.ErrorData.nUnitType = nUnitType;
  data.ErrorData.nSubCode = nSubCode;
  data.ErrorData.nErrorBits = static_cast<WORD>(nErrorBits);
  data.ErrorData.bstrText = _bstr_t(bstrText);
  m_SharedData.Set(data);
  return S_OK;
}

int CEventSink::Connect(ITavixSession2* pSession) {
  if (m_dwCookie != 0) return 0;
  return AfxConnectionAdvise(pSession, *m_piid, this, FALSE, &m_dwCookie);
}

int CEventSink::Disconnect(ITavixSession2* pSession) {
  if (!pSession || m_dwCookie == 0) return 1;
  const BOOL result = AfxConnectionUnadvise(pSession, *m_piid, this, FALSE, m_dwCookie);
  m_dwCookie = 0;
  return result;
}

int CEventSink::CommsOK() const { return m_SharedData.Get().bCommsOK; }
int CEventSink::MethodRunning() const { return m_SharedData.Get().bMethodRunning; }
int CEventSink::IsInError() const { return m_SharedData.Get().bInError; }
SErrorData CEventSink::GetErrorData() const { return m_SharedData.Get().ErrorData; }

int CEventSink::StepDataEventReceived() {
  STSharedData data = m_SharedData.Get();
  const int received = data.bStepDataReceived;
  if (received != 0) {
    data.bStepDataReceived = 0;
    m_SharedData.Set(data);
  }
  return received;
}

void CEventSink::StopRunning() {
  STSharedData data = m_SharedData.Get();
  data.bMethodRunning = 0;
  m_SharedData.Set(data);
}

void CEventSink::ClearError() {
  STSharedData data = m_SharedData.Get();
  data.bInError = 0;
  data.ErrorData = SErrorData();
  m_SharedData.Set(data);
}

void CEventSink::ResetForTesting() { m_SharedData.Set(STSharedData()); }

// ---- CComError ----

namespace {

const char* BitText(short unitType, unsigned bit) {
  switch (unitType) {
    case unitTypeNetBox:
      switch (bit) {
        case 1: return "External Input #1 error";
        case 2: return "External Input #2 error";
        case 4: return "External Input #3 error";
        case 8: return "External Input #4 error";
        case 16: return "Done all steps";
        case 32: return "Failed to complete all steps";
        case 512: return "Unknown request id";
        case 1024: return "Analysis sequence error";
        default: return "Network Error!";
      }
    case unitTypePump:
      switch (bit) {
        case 1: return "Pump under pressure!";
        case 2: return "Pump over pressure!";
        default: return "Pump in error!";
      }
    case unitTypeUVDetector:
    case unitTypeAutosampler:
      switch (bit) {
        case 1: return "Autosampler: X axis error.";
        case 2: return "Autosampler: Y axis error.";
        case 4: return "Autosampler: Z axis error.";
        case 8: return "Autosampler: Injector error.";
        case 16: return "Syringe error.";
        case 32: return "Autosampler: Stop error.";
        case 64: return "Waste bottle full.";
        default: return "Autosampler in error.";
      }
    case unitTypeColumnOven:
      switch (bit) {
        case 1: return "Oven temperature too high!";
        case 2: return "Leak in oven!";
        default: return "Oven in error!";
      }
    default: return "System in error";
  }
}

}  // namespace

int CComError::Translate(SErrorData& error, CString& text) {
  text.Empty();
  if (error.nErrorBits == 0) return 0;
  for (unsigned bit = 1; bit <= 0x8000; bit <<= 1) {
    if ((error.nErrorBits & bit) == 0) continue;
    // The network box lists every bit; any other unit keeps only the
    // highest one.
    if (error.nUnitType == unitTypeNetBox) {
      text += BitText(error.nUnitType, bit);
    } else {
      text = BitText(error.nUnitType, bit);
    }
    text += "\n";
  }
  return 1;
}
