#include "platform/com/afxctl.h"

namespace {

IConnectionPoint* FindPoint(LPUNKNOWN source, REFIID iid) {
  if (!source) return nullptr;
  IConnectionPointContainer* container = nullptr;
  if (FAILED(source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) ||
      !container) {
    return nullptr;
  }
  IConnectionPoint* point = nullptr;
  if (FAILED(container->FindConnectionPoint(iid, &point))) point = nullptr;
  container->Release();
  return point;
}

}  // namespace

BOOL AfxConnectionAdvise(LPUNKNOWN pUnkSrc, REFIID iid, LPUNKNOWN pUnkSink, BOOL bRefCount, DWORD* pdwCookie) {
  if (!pUnkSink || !pdwCookie) return FALSE;
  IConnectionPoint* point = FindPoint(pUnkSrc, iid);
  if (!point) return FALSE;
  BOOL ok = FALSE;
  if (SUCCEEDED(point->Advise(pUnkSink, pdwCookie))) {
    ok = TRUE;
    if (!bRefCount) pUnkSink->Release();
  }
  point->Release();
  return ok;
}

BOOL AfxConnectionUnadvise(LPUNKNOWN pUnkSrc, REFIID iid, LPUNKNOWN pUnkSink, BOOL bRefCount, DWORD dwCookie) {
  if (!pUnkSink) return FALSE;
  if (!bRefCount) pUnkSink->AddRef();
  BOOL ok = FALSE;
  if (IConnectionPoint* point = FindPoint(pUnkSrc, iid)) {
    ok = SUCCEEDED(point->Unadvise(dwCookie)) ? TRUE : FALSE;
    point->Release();
  }
  // The connection point released its reference; without one of ours,
  // give back the one added above when the unadvise did not take it.
  if (!ok && !bRefCount) pUnkSink->Release();
  return ok;
}
