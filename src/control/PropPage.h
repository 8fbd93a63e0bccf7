// The control's property page: the "General" page over dialog 200 of the control module. The
// control has no properties a page author sets, so the page shows the dialog and applies
// nothing; it is there for containers and tools that offer every control's property pages.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <vector>
#include "Owners.h"

class CTarnwickPropPage : public IPropertyPage {
public:
    CTarnwickPropPage();
    CTarnwickPropPage(const CTarnwickPropPage&) = delete;
    CTarnwickPropPage& operator=(const CTarnwickPropPage&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
    STDMETHODIMP Show(UINT command) override;
    STDMETHODIMP Move(LPCRECT rect) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR helpDir) override;
    STDMETHODIMP TranslateAccelerator(MSG* msg) override;

private:
    virtual ~CTarnwickPropPage();
    void ReleaseObjects();

    LONG m_refs = 1;
    tarnwick::ComPtr<IPropertyPageSite> m_site;
    std::vector<IUnknown*> m_objects;  // owned references
    HWND m_dialog = nullptr;
};

// The page's size in pixels, from its dialog template (dialog units of the template's font).
SIZE TarnwickPropPageSize();
