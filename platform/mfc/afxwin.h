// The class framework's object and window classes, as far as the device
// classes use them.
//
// Contract: `CObject` is the root class with a virtual destructor. `CWnd`
// is the window class the device classes derive from; its virtual table
// starts with the window class's own operations (the message-map lookup
// and window destruction) so that the device classes' inlet operations
// follow them, as in the framework. No window is ever created here.
// DECLARE_MESSAGE_MAP / BEGIN_MESSAGE_MAP / END_MESSAGE_MAP declare and
// define an empty message map chained to the base class's map.
// AfxMessageBox shows its text through the host-UI sink
// (platform/inlet/host_ui.h).
// Thread safety: none needed; these objects hold no shared state.
#pragma once

#include "platform/mfc/cstring.h"
#include "platform/mfc/windef.h"

class CObject {
 public:
  CObject() = default;
  CObject(const CObject&) = default;
  CObject& operator=(const CObject&) = default;
  virtual ~CObject() = default;
};

// A message map: this stand-in dispatches no messages, so a map is only
// its link to the base class's map.
struct AFX_MSGMAP {
  const AFX_MSGMAP* pBaseMap;
};

#define DECLARE_MESSAGE_MAP()                           \
 public:                                                \
  static const ::AFX_MSGMAP* GetThisMessageMap();       \
  const ::AFX_MSGMAP* GetMessageMap() const override;   \
                                                        \
 private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                           \
  const ::AFX_MSGMAP* theClass::GetMessageMap() const {                  \
    return GetThisMessageMap();                                          \
  }                                                                      \
  const ::AFX_MSGMAP* theClass::GetThisMessageMap() {                    \
    static const ::AFX_MSGMAP map{baseClass::GetThisMessageMap()};       \
    return &map;

#define END_MESSAGE_MAP() }

class CWnd : public CObject {
 public:
  CWnd() = default;
  ~CWnd() override = default;

  // The window class's own virtual operations, first in every derived
  // virtual table.
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
  virtual BOOL DestroyWindow() { return TRUE; }
  virtual LRESULT WindowProc(UINT, WPARAM, LPARAM) { return 0; }

  HWND GetSafeHwnd() const { return m_hWnd; }

 protected:
  HWND m_hWnd = nullptr;
};

// The framework's message box: `nType` is the box's style (0: an OK
// button), `nIDHelp` its help context (not used here). Returns the button
// pressed (1: OK).
int AfxMessageBox(LPCSTR lpszText, UINT nType = 0, UINT nIDHelp = 0);
