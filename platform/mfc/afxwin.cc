#include "platform/mfc/afxwin.h"

#include "platform/inlet/host_ui.h"

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP map{nullptr};
  return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

int AfxMessageBox(LPCSTR lpszText, UINT nType, UINT /*nIDHelp*/) {
  return platform::CurrentHostUi().MessageBox(CString(lpszText ? lpszText : ""), nType);
}
