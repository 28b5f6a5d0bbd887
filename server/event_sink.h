// The sink for the instrument server session's events, and the shared
// record it keeps: method running, communications up, error reported
// (with the error record), step data come.
//
// Contract: Invoke takes dispatch identifier 1 (HplcMessage, five
// arguments) and 4 (ErrorEvent, four arguments) with IID_NULL; arguments
// arrive last first and are converted to the parameters' types, an
// unconvertible one counting as 0 or an empty text. Other identifiers are
// answered S_OK and change nothing; another interface identifier gives
// DISP_E_UNKNOWNINTERFACE; a known identifier with another argument count
// gives DISP_E_BADPARAMCOUNT and changes nothing. The query operations
// each read one locked copy of the record.
// Ownership: the sink lives inside CCommon (made with the no-self-delete
// flag); a connection holds no reference to it.
// Thread safety: Invoke and the event operations may run on the server's
// thread while the host thread calls the query operations; Connect,
// Disconnect and the COM reference count belong to the host thread.
#pragma once

#include "platform/com/comdef.h"
#include "platform/mfc/cstring.h"
#include "platform/tavix/tavix.h"
#include "server/com_plumbing.h"
#include "server/locks.h"

struct SErrorData {
  short nUnitType = 0;
  short nSubCode = 0;
  WORD nErrorBits = 0;
  _bstr_t bstrText;
};

struct STSharedData {
  int bMethodRunning = 0;
  int bCommsOK = 0;
  int bInError = 0;
  int bStepDataReceived = 0;
  SErrorData ErrorData;
};

// A VARIANT that clears itself.
class CSafeVariant : public VARIANT {
 public:
  CSafeVariant() { VariantInit(this); }
  CSafeVariant(const CSafeVariant&) = delete;
  CSafeVariant& operator=(const CSafeVariant&) = delete;
  ~CSafeVariant() { VariantClear(this); }
  // Some system headers declare VariantCopy's source without const.
  HRESULT Copy(const VARIANT& source) { return VariantCopy(this, const_cast<VARIANT*>(&source)); }
  HRESULT ChangeType(VARTYPE type) { return VariantChangeType(this, this, 0, type); }
};

class CEventSink
    : public CSimpleDispatch<_ITavixSession2Events, &DIID__ITavixSession2Events, &LIBID_TAVIXSERVERLib, 1> {
 public:
  explicit CEventSink(int bNoSelfDelete);

  STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                      VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
  ~CEventSink() override;

  virtual HRESULT STDMETHODCALLTYPE HplcMessage(short nUnitType, short nUnitNumber, long nMessage, BSTR bstrText,
                                                BSTR bstrExtra);
  virtual HRESULT STDMETHODCALLTYPE ChangeStatus(short nUnitType, short nUnitNumber, BSTR bstrText);
  virtual HRESULT STDMETHODCALLTYPE MeasrureSpectrum(short nUnitType, short nUnitNumber, BSTR bstrText);
  virtual HRESULT STDMETHODCALLTYPE ErrorEvent(short nUnitType, short nSubCode, short nErrorBits, BSTR bstrText);
  virtual HRESULT STDMETHODCALLTYPE WarningEvent(short nUnitType, short nSubCode, short nBits, BSTR bstrText);

  int Connect(ITavixSession2* pSession);
  int Disconnect(ITavixSession2* pSession);

  int CommsOK() const;
  int MethodRunning() const;
  int IsInError() const;
  int StepDataEventReceived();
  void StopRunning();
  void ClearError();
  SErrorData GetErrorData() const;

  // The record back to its state when the sink was made; tests only.
  void ResetForTesting();

 private:
  DWORD m_dwCookie = 0;
  const IID* m_piid = &DIID__ITavixSession2Events;
  CTSafe<STSharedData> m_SharedData;
};

// Turns an error record into the text shown to the user.
class CComError {
 public:
  // Fills `text` with the lines of the set error bits (see the .cc for the
  // table); returns 0 with an empty text when no bit is set, else 1.
  int Translate(SErrorData& error, CString& text);
};
