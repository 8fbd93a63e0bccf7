#include "TarnwickCtrl.h"
#include "Guids.h"
#include "policy/SitePolicy.h"
#include "framework/ModuleState.h"
#include "framework/Strings.h"
#include "fileservices/TempArea.h"

CTarnwickCtrl::CTarnwickCtrl(IUnknown* outer)
    : m_pControllingUnknown(outer ? outer : static_cast<IUnknown*>(&m_xInner)) {
    tarnwick::ObjectCreated();
}

CTarnwickCtrl::~CTarnwickCtrl() {
    // Archives this instance made go with it; one already deleted or still in use is skipped.
    for (const std::wstring& path : m_saCreatedFiles) {
        if (!path.empty()) tarnwick::files::DeleteCreatedFile(path);
    }
    DestroyOleState(m_pOle);
    m_site.reset();
    tarnwick::ObjectDestroyed();
}

// ---- identity: the non-delegating unknown and the delegating one ----

HRESULT CTarnwickCtrl::InternalQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(&m_xInner);
    } else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID__DTarnwick)) {
        *ppv = static_cast<IDispatch*>(this);
    } else if (IsEqualIID(riid, IID_IObjectSafety)) {
        *ppv = static_cast<IObjectSafety*>(&m_xObjSafe);
    } else if (IsEqualIID(riid, IID_IObjectWithSite) && tarnwick::policy::PolicyPresent()) {
        // Offered only under an administrator's policy: some script engines refuse to create an
        // object that takes a site they cannot give, and without a policy the page's address
        // changes nothing.
        *ppv = static_cast<IObjectWithSite*>(&m_xObjWithSite);
    } else {
        return QueryOleInterface(riid, ppv);  // adds its own reference
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

CTarnwickCtrl* CTarnwickCtrl::XInner::Outer() {
    return reinterpret_cast<CTarnwickCtrl*>(reinterpret_cast<char*>(this) -
                                            offsetof(CTarnwickCtrl, m_xInner));
}

STDMETHODIMP CTarnwickCtrl::XInner::QueryInterface(REFIID riid, void** ppv) {
    return Outer()->InternalQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CTarnwickCtrl::XInner::AddRef() { return InterlockedIncrement(&Outer()->m_refs); }

STDMETHODIMP_(ULONG) CTarnwickCtrl::XInner::Release() {
    CTarnwickCtrl* control = Outer();
    LONG refs = InterlockedDecrement(&control->m_refs);
    if (refs == 0) {
        control->m_refs = 1;  // guards against re-entry while the object goes
        delete control;
    }
    return static_cast<ULONG>(refs);
}

STDMETHODIMP CTarnwickCtrl::QueryInterface(REFIID riid, void** ppv) {
    return m_pControllingUnknown->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CTarnwickCtrl::AddRef() { return m_pControllingUnknown->AddRef(); }
STDMETHODIMP_(ULONG) CTarnwickCtrl::Release() { return m_pControllingUnknown->Release(); }

// ---- IObjectSafety: the control is safe for untrusted callers and data on every interface ----

CTarnwickCtrl* CTarnwickCtrl::XObjSafe::Outer() {
    return reinterpret_cast<CTarnwickCtrl*>(reinterpret_cast<char*>(this) -
                                            offsetof(CTarnwickCtrl, m_xObjSafe));
}

STDMETHODIMP CTarnwickCtrl::XObjSafe::QueryInterface(REFIID riid, void** ppv) {
    return Outer()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CTarnwickCtrl::XObjSafe::AddRef() { return Outer()->AddRef(); }
STDMETHODIMP_(ULONG) CTarnwickCtrl::XObjSafe::Release() { return Outer()->Release(); }

namespace {
constexpr DWORD kSafeOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
}

// Safe only for pages the administrator's site list allows.
STDMETHODIMP CTarnwickCtrl::XObjSafe::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported,
                                                               DWORD* enabled) {
    if (!supported || !enabled) return E_POINTER;
    IUnknown* unknown = nullptr;
    HRESULT hr = Outer()->QueryInterface(riid, reinterpret_cast<void**>(&unknown));
    if (SUCCEEDED(hr) && unknown) unknown->Release();
    const DWORD options = Outer()->MayScript() ? kSafeOptions : 0;
    *supported = options;
    *enabled = options;
    return hr;
}

STDMETHODIMP CTarnwickCtrl::XObjSafe::SetInterfaceSafetyOptions(REFIID riid, DWORD mask,
                                                               DWORD enabled) {
    IUnknown* unknown = nullptr;
    HRESULT hr = Outer()->QueryInterface(riid, reinterpret_cast<void**>(&unknown));
    if (FAILED(hr) || !unknown) return E_NOINTERFACE;
    unknown->Release();
    if (!Outer()->MayScript()) return E_FAIL;
    if (mask & ~kSafeOptions) return E_FAIL;
    if ((mask & enabled & kSafeOptions) != mask) return E_FAIL;  // an option cannot be turned off
    return S_OK;
}

// ---- IObjectWithSite ----

CTarnwickCtrl* CTarnwickCtrl::XObjWithSite::Outer() {
    return reinterpret_cast<CTarnwickCtrl*>(reinterpret_cast<char*>(this) -
                                            offsetof(CTarnwickCtrl, m_xObjWithSite));
}

STDMETHODIMP CTarnwickCtrl::XObjWithSite::QueryInterface(REFIID riid, void** ppv) {
    return Outer()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CTarnwickCtrl::XObjWithSite::AddRef() { return Outer()->AddRef(); }
STDMETHODIMP_(ULONG) CTarnwickCtrl::XObjWithSite::Release() { return Outer()->Release(); }

STDMETHODIMP CTarnwickCtrl::XObjWithSite::SetSite(IUnknown* site) {
    CTarnwickCtrl* control = Outer();
    control->m_site = tarnwick::ComPtr<IUnknown>(site);
    control->SiteChanged(site);
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::XObjWithSite::GetSite(REFIID riid, void** site) {
    if (!site) return E_POINTER;
    *site = nullptr;
    const tarnwick::ComPtr<IUnknown>& held = Outer()->m_site;
    return held ? held->QueryInterface(riid, site) : E_FAIL;
}
