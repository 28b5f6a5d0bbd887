#include "platform/mfc/afxwin.h"

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP map{nullptr};
  return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }
