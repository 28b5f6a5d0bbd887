// The instrument server's COM interfaces and identifiers, as the plug-in
// uses them. The server (TavixServer) owns the instrument network; the
// plug-in creates its root object with CoCreateInstance, opens a session,
// finds units, builds a method out of method items and receives the
// session's events through a dispatch sink (_ITavixSession2Events).
//
// Contract: every operation returns an HRESULT; out parameters are set
// only on success (null or 0 otherwise); every interface pointer handed
// out carries one reference that the receiver releases. Units of measure:
// flow ml/min, pressure MPa, temperatures degrees C, times minutes,
// wavelengths nm, volumes microlitres. Units are named by a unit type
// (TavixUnitType) and a unit number.
// Thread safety: the server's objects may be called from any thread; its
// events arrive on a thread of the server's own.
#pragma once

#include "platform/com/com.h"

// Identifiers.
extern const CLSID CLSID_TavixServer;
extern const IID IID_ITavixServer;
extern const IID IID_ITavixSession2;
extern const IID IID_ITavixUnits;
extern const IID IID_ITavixUnit2;
extern const IID IID_ITavixNetBox;
extern const IID IID_ITavixSequence;
extern const IID IID_ITavixMethod2;
extern const IID IID_ITavixMethodItem2;
extern const IID IID_ITavixPump2;
extern const IID IID_ITavixSolvents;
extern const IID IID_ITavixSolvent;
extern const IID IID_ITavixAutosampler2;
extern const IID IID_ITavix_DET_UV2;
extern const IID IID_ITavixOven;
extern const IID DIID__ITavixSession2Events;
extern const GUID LIBID_TAVIXSERVERLib;

// Dispatch identifiers of _ITavixSession2Events.
inline constexpr DISPID DISPID_HplcMessage = 1;
inline constexpr DISPID DISPID_ChangeStatus = 2;
inline constexpr DISPID DISPID_MeasrureSpectrum = 3;
inline constexpr DISPID DISPID_ErrorEvent = 4;
inline constexpr DISPID DISPID_WarningEvent = 5;

// Unit type code (ITavixUnits::GetUnit, ITavixMethod2::AddItem, events).
// The network box is unit 0/0; every other unit is numbered from 1.
enum TavixUnitType : SHORT {
  unitTypeNetBox = 0,
  unitTypePump = 1,
  unitTypeUVDetector = 4,
  unitTypeAutosampler = 5,
  unitTypeColumnOven = 6,
};

// ITavixUnit2::GetStatus: the bit set while the unit is present.
inline constexpr LONG kTavixUnitPresentBit = 0x40000000;

// The server's registry values, from HKEY_LOCAL_MACHINE (the last part of
// each path names the value): the AppID its registration records
// (TavixServer.exe /RegServer), present once it is registered, and its
// repository folder.
inline constexpr const char* kTavixServerAppIdPath = "SOFTWARE\\Classes\\AppID\\TavixServer.EXE\\AppID";
inline constexpr const char* kTavixRepositoryPath = "Software\\Quarn\\Pelta\\TAVIXSRV\\Global\\Repository Path";

// Autosampler state (ITavixAutosampler2::GetSamplerState).
enum TavixSamplerState : LONG {
  samplerFault = 1,
  samplerIdle = 2,
  samplerDrawing = 3,    // at the vial or drawing the sample
  samplerInjecting = 5,
  samplerWashing = 6,    // injecting and washing
  samplerInjected = 7,
  samplerLocked = 8,     // homing or not ready
};

// UV lamp state (ITavix_DET_UV2::GetLampState, SetLampState).
enum TavixLampState : LONG { lampOff = 0, lampOn = 3 };

// Function code of a method item.
enum HplcMethodFunc : LONG {
  HplcFuncFlow = 0,
  HplcFuncComposition = 1,
  HplcFuncMaxPressure = 2,
  HplcFuncMinPressure = 3,
  HplcFuncOvenTemperature = 4,
  HplcFuncNetBoxEvents = 5,
  HplcFuncNetBoxValves = 6,
  HplcFuncWavelength = 7,
  HplcFuncResponse = 9,
  HplcFuncAutoZero = 25,
};

// Pump configuration of a method (ITavixMethod2::SetControlMode).
enum COMControlMode : LONG {
  modeIsocratic = 0x1,
  modeQuaternary = 0x10,
  modeBinary = 0x200,
  modeTernary = 0x300,
};

// UV detector response (time constant class).
enum Response : LONG { responseFast = 0, responseStandard = 1, responseSlow = 2 };

#define TAVIX_INTERFACE(name)                                           \
 protected:                                                             \
  ~name() = default; /* never deleted through an interface pointer */  \
                                                                        \
 public:

struct ITavixSession2;
struct ITavixUnits;
struct ITavixUnit2;
struct ITavixSequence;
struct ITavixMethod2;
struct ITavixMethodItem2;
struct ITavixSolvents;
struct ITavixSolvent;

struct ITavixServer : IUnknown {
  TAVIX_INTERFACE(ITavixServer)
  STDMETHOD(CreateSession)(LONG nFlags, ITavixSession2** ppSession) = 0;
};

// A session; also a connection-point container for
// _ITavixSession2Events.
struct ITavixSession2 : IUnknown {
  TAVIX_INTERFACE(ITavixSession2)
  STDMETHOD(Open)(BSTR bstrUser) = 0;
  STDMETHOD(Close)() = 0;
  STDMETHOD(ResetError)() = 0;
  STDMETHOD(GetUnits)(ITavixUnits** ppUnits) = 0;
  STDMETHOD(GetSequence)(ITavixSequence** ppSequence) = 0;
  STDMETHOD(StartInitial)() = 0;
  STDMETHOD(PrepareRun)() = 0;
  STDMETHOD(StartRun)() = 0;
  STDMETHOD(EndRun)() = 0;
  STDMETHOD(EndMethod)() = 0;
  STDMETHOD(AcknowledgeStepData)() = 0;
};

struct ITavixUnits : IUnknown {
  TAVIX_INTERFACE(ITavixUnits)
  STDMETHOD(GetUnit)(LONG nUnitType, SHORT nUnitNumber, ITavixUnit2** ppUnit) = 0;
};

// A unit; QueryInterface gives its kind's interface.
struct ITavixUnit2 : IUnknown {
  TAVIX_INTERFACE(ITavixUnit2)
  STDMETHOD(GetStatus)(LONG* plStatus) = 0;  // kTavixUnitPresentBit: present
  STDMETHOD(GetConnected)(SHORT* pbConnected) = 0;
  STDMETHOD(GetIdentification)(BSTR* pbstrIdentification) = 0;
  STDMETHOD(SendSettings)() = 0;
};

struct ITavixNetBox : IUnknown {
  TAVIX_INTERFACE(ITavixNetBox)
  STDMETHOD(GetIdentification)(BSTR* pbstrIdentification) = 0;
  STDMETHOD(GetElapsedTime)(DOUBLE* pdMinutes) = 0;
  STDMETHOD(GetState)(LONG* plState) = 0;
};

struct ITavixSequence : IUnknown {
  TAVIX_INTERFACE(ITavixSequence)
  STDMETHOD(SetMethodName)(BSTR bstrName) = 0;
  STDMETHOD(AddMethod)(ITavixMethod2** ppMethod) = 0;
  STDMETHOD(GetEmptyMethod)(ITavixMethod2** ppMethod) = 0;
  STDMETHOD(SetRunLength)(DOUBLE dMinutes) = 0;
  STDMETHOD(SetVial)(LONG nVial) = 0;
  STDMETHOD(SetInjectionVolume)(DOUBLE dMicrolitres) = 0;
  STDMETHOD(SetSamplerValue)(DOUBLE dValue) = 0;
};

struct ITavixMethod2 : IUnknown {
  TAVIX_INTERFACE(ITavixMethod2)
  STDMETHOD(AddItem)(LONG nUnitType, SHORT nUnitNumber, ITavixMethodItem2** ppItem) = 0;
  STDMETHOD(SetRunLength)(DOUBLE dMinutes) = 0;
  STDMETHOD(SetActive)(LONG nActive) = 0;
  STDMETHOD(GetControlMode)(LONG* plMode) = 0;
  STDMETHOD(SetControlMode)(LONG lMode) = 0;
  STDMETHOD(SetPumpOption)(LONG lOption) = 0;
  STDMETHOD(SetSamplerTime)(DOUBLE dMinutes) = 0;
  STDMETHOD(SetSamplerCount)(LONG lCount) = 0;
  STDMETHOD(SetDetectorOption)(LONG lOption) = 0;
  STDMETHOD(SetOvenOption)(LONG lOption) = 0;
};

struct ITavixMethodItem2 : IUnknown {
  TAVIX_INTERFACE(ITavixMethodItem2)
  STDMETHOD(SetTime)(DOUBLE dMinutes) = 0;
  STDMETHOD(SetUnitType)(LONG nUnitType) = 0;
  STDMETHOD(SetFunction)(HplcMethodFunc eFunction) = 0;
  STDMETHOD(SetParameters)(DOUBLE p1, DOUBLE p2, DOUBLE p3, DOUBLE p4, DOUBLE p5, DOUBLE p6) = 0;
};

struct ITavixPump2 : IUnknown {
  TAVIX_INTERFACE(ITavixPump2)
  STDMETHOD(GetFlow)(DOUBLE* pdFlow) = 0;
  STDMETHOD(GetPressure)(DOUBLE* pdPressure) = 0;
  STDMETHOD(SetFlow)(DOUBLE dFlow) = 0;
  STDMETHOD(GetSolvents)(ITavixSolvents** ppSolvents) = 0;
};

struct ITavixSolvents : IUnknown {
  TAVIX_INTERFACE(ITavixSolvents)
  STDMETHOD(GetSolvent)(LONG nIndex, ITavixSolvent** ppSolvent) = 0;
  STDMETHOD(GetCount)(LONG* plCount) = 0;
};

struct ITavixSolvent : IUnknown {
  TAVIX_INTERFACE(ITavixSolvent)
  STDMETHOD(GetPercent)(DOUBLE* pdPercent) = 0;
};

struct ITavixAutosampler2 : IUnknown {
  TAVIX_INTERFACE(ITavixAutosampler2)
  STDMETHOD(GetSamplerState)(LONG* plState) = 0;
};

struct ITavix_DET_UV2 : IUnknown {
  TAVIX_INTERFACE(ITavix_DET_UV2)
  STDMETHOD(SetWavelength)(DOUBLE dNm) = 0;
  STDMETHOD(SetResponse)(LONG lResponse) = 0;
  STDMETHOD(GetLampState)(LONG* plState) = 0;
  STDMETHOD(SetLampState)(LONG lState) = 0;
};

struct ITavixOven : IUnknown {
  TAVIX_INTERFACE(ITavixOven)
  STDMETHOD(GetTemperature)(DOUBLE* pdCelsius) = 0;
};

// The session's events, a dispatch interface: HplcMessage (1),
// ChangeStatus (2), MeasrureSpectrum (3), ErrorEvent (4), WarningEvent (5).
struct _ITavixSession2Events : IDispatch {
  TAVIX_INTERFACE(_ITavixSession2Events)
};

#undef TAVIX_INTERFACE
