#include "ClassFactory.h"
#include "Guids.h"
#include "TarnwickCtrl.h"
#include "framework/ModuleState.h"
#include <new>

namespace {
CTarnwickCtrlFactory g_controlFactory;
CTarnwickPropPageFactory g_propPageFactory;
}  // namespace

STDMETHODIMP CClassFactoryBase::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// Static objects: a reference to a factory keeps the module loaded, like a lock.
STDMETHODIMP_(ULONG) CClassFactoryBase::AddRef() {
    tarnwick::LockModule(true);
    return 2;
}
STDMETHODIMP_(ULONG) CClassFactoryBase::Release() {
    tarnwick::LockModule(false);
    return 1;
}

STDMETHODIMP CClassFactoryBase::LockServer(BOOL lock) {
    tarnwick::LockModule(lock != FALSE);
    return S_OK;
}

STDMETHODIMP CTarnwickCtrlFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregating object may ask for the inner unknown only.
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    CTarnwickCtrl* control = new (std::nothrow) CTarnwickCtrl(outer);
    if (!control) return E_OUTOFMEMORY;
    IUnknown* inner = control->InnerUnknown();
    HRESULT hr = inner->QueryInterface(riid, ppv);
    inner->Release();
    return hr;
}

// The property page is never aggregated.
STDMETHODIMP CTarnwickPropPageFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateTarnwickPropPage(riid, ppv);
}

IClassFactory* FindClassFactory(REFCLSID clsid) {
    IClassFactory* factory = nullptr;
    if (IsEqualCLSID(clsid, CLSID_Tarnwick)) factory = &g_controlFactory;
    else if (IsEqualCLSID(clsid, CLSID_TarnwickPropPage)) factory = &g_propPageFactory;
    if (factory) factory->AddRef();
    return factory;
}
