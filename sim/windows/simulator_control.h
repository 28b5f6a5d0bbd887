// The private interfaces of sim/windows/simulator_control.idl, method for
// method, for the two sides of the simulator's control across processes.
#pragma once

#include "platform/com/com.h"

extern const IID IID_IQuarnSimulatorControl;
extern const IID IID_IQuarnTraceSink;
extern const GUID LIBID_QuarnSimulatorControlLib;

struct IQuarnTraceSink;

struct IQuarnSimulatorControl : IUnknown {
  STDMETHOD(Call)(BSTR bstrName, BSTR bstrArguments, BSTR* pbstrResult) = 0;
  STDMETHOD(NextDueMs)(DOUBLE* pdMs) = 0;
  STDMETHOD(AdvanceTo)(DOUBLE dMs) = 0;
  STDMETHOD(TraceTo)(IQuarnTraceSink* pSink) = 0;

 protected:
  ~IQuarnSimulatorControl() = default;
};

struct IQuarnTraceSink : IUnknown {
  STDMETHOD(Line)(BSTR bstrLine) = 0;

 protected:
  ~IQuarnTraceSink() = default;
};
