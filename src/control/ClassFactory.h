// The module's two class factories, static objects that live as long as the module.
#pragma once
#include <windows.h>
#include <ole2.h>

class CClassFactoryBase : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP LockServer(BOOL lock) override;
};

class CTarnwickCtrlFactory : public CClassFactoryBase {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
};

class CTarnwickPropPageFactory : public CClassFactoryBase {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
};

// The factory for a class id, AddRef'ed, or null.
IClassFactory* FindClassFactory(REFCLSID clsid);

// Creates the property page object; supplied by the property page's own file.
HRESULT CreateTarnwickPropPage(REFIID riid, void** ppv);
