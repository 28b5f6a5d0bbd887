// COM object plumbing: the plug-in's own COM objects (the event sink) and
// the server objects it borrows.
//
// Held<T>: owns one reference to a server object handed out with an added
// reference (CCommon's accessors, a unit's solvents) and releases it at the
// end of the scope; null is allowed.
//
// CIUnknownImp<T, piid>: IUnknown for an object implementing interface T
// (identifier *piid). QueryInterface answers IID_IUnknown and *piid;
// AddRef and Release change the count by one without interlocking, so an
// object built on it must have its count changed on one thread only.
// Release deletes the object at 0 unless it is already being destroyed or
// was made with the no-self-delete flag.
//
// CSimpleDispatch<T, piid, plibid, wMajor>: adds IDispatch's type
// information from the registered type library *plibid (version wMajor.0)
// and answers IID_IDispatch too; Invoke is left to the derived class. The
// type information is loaded on first use and cached for its locale's
// primary language.
// Thread safety: the type-information operations are for one thread at a
// time; Invoke is the derived class's business.
#pragma once

#include "platform/com/com.h"

template <class T>
class Held {
 public:
  explicit Held(T* pointer) : m_p(pointer) {}
  ~Held() {
    if (m_p) m_p->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  T* Get() const { return m_p; }

 private:
  T* m_p;
};

template <class T, const IID* piid>
class CIUnknownImp : public T {
 public:
  explicit CIUnknownImp(int bNoSelfDelete = 0) : m_bNoSelfDelete(bNoSelfDelete) {}
  CIUnknownImp(const CIUnknownImp&) = delete;
  CIUnknownImp& operator=(const CIUnknownImp&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *piid)) {
      *ppvObject = static_cast<T*>(this);
      AddRef();
      return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_lRefCount); }
  STDMETHODIMP_(ULONG) Release() override {
    const long left = --m_lRefCount;
    if (left == 0 && !m_bDestroying && !m_bNoSelfDelete) {
      m_bDestroying = 1;
      delete this;
      return 0;
    }
    return static_cast<ULONG>(left);
  }
  virtual ~CIUnknownImp() = default;

 protected:
  int m_bDestroying = 0;
  long m_lRefCount = 0;
  int m_bNoSelfDelete;
};

// The primary language of a locale: its low 10 bits.
inline constexpr LCID QuarnPrimaryLanguage(LCID lcid) { return lcid & 0x3FF; }

template <class T, const IID* piid, const GUID* plibid, WORD wMajor>
class CSimpleDispatch : public CIUnknownImp<T, piid> {
 public:
  explicit CSimpleDispatch(int bNoSelfDelete = 0) : CIUnknownImp<T, piid>(bNoSelfDelete) {}
  ~CSimpleDispatch() override {
    if (m_pTypeInfo) m_pTypeInfo->Release();
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject && IsEqualIID(riid, IID_IDispatch)) {
      *ppvObject = static_cast<T*>(this);
      this->AddRef();
      return S_OK;
    }
    return CIUnknownImp<T, piid>::QueryInterface(riid, ppvObject);
  }

  STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
  }

  STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {
    // The bad-index answer the host side expects: 0x8002802B.
    if (iTInfo != 0) return TYPE_E_ELEMENTNOTFOUND;
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (m_pTypeInfo && QuarnPrimaryLanguage(m_lcidTypeInfo) != QuarnPrimaryLanguage(lcid)) {
      m_pTypeInfo->Release();
      m_pTypeInfo = nullptr;
    }
    if (!m_pTypeInfo) {
      ITypeLib* pTypeLib = nullptr;
      HRESULT hr = LoadRegTypeLib(*plibid, wMajor, 0, QuarnPrimaryLanguage(lcid), &pTypeLib);
      if (FAILED(hr)) return hr;
      hr = pTypeLib->GetTypeInfoOfGuid(*piid, &m_pTypeInfo);
      pTypeLib->Release();
      if (FAILED(hr)) {
        m_pTypeInfo = nullptr;
        return hr;
      }
      m_lcidTypeInfo = lcid;
    }
    m_pTypeInfo->AddRef();
    *ppTInfo = m_pTypeInfo;
    return S_OK;
  }

  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* pTypeInfo = nullptr;
    HRESULT hr = GetTypeInfo(0, lcid, &pTypeInfo);
    if (FAILED(hr)) return hr;
    hr = DispGetIDsOfNames(pTypeInfo, rgszNames, cNames, rgDispId);
    pTypeInfo->Release();
    return hr;
  }

 protected:
  ITypeInfo* m_pTypeInfo = nullptr;
  LCID m_lcidTypeInfo = 0x2409;
};
