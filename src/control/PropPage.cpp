#include "PropPage.h"
#include "ClassFactory.h"
#include "ComShared.h"
#include "framework/ModuleState.h"
#include "framework/Strings.h"
#include "resource.h"
#include <cstring>
#include <new>

namespace {

INT_PTR CALLBACK PageDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

WORD ReadWord(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

}  // namespace

SIZE TarnwickPropPageSize() {
    SIZE size = {0, 0};
    HINSTANCE instance = tarnwick::ModuleInstance();
    HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(IDD_PROPPAGE_TARNWICK),
                                   reinterpret_cast<LPCWSTR>(RT_DIALOG));
    HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
    const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD length = resource ? SizeofResource(instance, resource) : 0;
    if (!bytes || length < 18) return size;

    // DLGTEMPLATE, or DLGTEMPLATEEX (version 1, signature 0xFFFF), little-endian.
    bool extended = ReadWord(bytes) == 1 && ReadWord(bytes + 2) == 0xFFFF;
    size_t styleAt = extended ? 12 : 0;
    size_t cxAt = extended ? 22 : 14;
    if (length < cxAt + 4) return size;
    int cx = static_cast<short>(ReadWord(bytes + cxAt));
    int cy = static_cast<short>(ReadWord(bytes + cxAt + 2));

    // The dialog units are those of the template's font, which only a dialog built from it
    // knows: build a hidden pop-up copy of the page and let it map its own rectangle.
    RECT rect = {0, 0, cx, cy};
    HWND probe = nullptr;
    std::vector<DWORD> copy((length + 3) / 4);  // DWORD-aligned, as templates must be
    memcpy(copy.data(), bytes, length);
    DWORD* style = reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(copy.data()) + styleAt);
    *style = (*style & ~(WS_CHILD | WS_VISIBLE)) | WS_POPUP;
    probe = CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()),
                                       nullptr, PageDialogProc, 0);
    if (probe && MapDialogRect(probe, &rect)) {
        size.cx = rect.right - rect.left;
        size.cy = rect.bottom - rect.top;
    } else {
        LONG base = GetDialogBaseUnits();  // the system font's units, near enough
        size.cx = MulDiv(cx, LOWORD(base), 4);
        size.cy = MulDiv(cy, HIWORD(base), 8);
    }
    if (probe) DestroyWindow(probe);
    return size;
}

CTarnwickPropPage::CTarnwickPropPage() { tarnwick::ObjectCreated(); }

CTarnwickPropPage::~CTarnwickPropPage() {
    if (m_dialog) DestroyWindow(m_dialog);
    ReleaseObjects();
    tarnwick::ObjectDestroyed();
}

void CTarnwickPropPage::ReleaseObjects() {
    std::vector<IUnknown*> objects;
    objects.swap(m_objects);
    for (IUnknown* object : objects) object->Release();
}

STDMETHODIMP CTarnwickPropPage::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyPage)) {
        *ppv = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CTarnwickPropPage::AddRef() { return InterlockedIncrement(&m_refs); }

STDMETHODIMP_(ULONG) CTarnwickPropPage::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

STDMETHODIMP CTarnwickPropPage::SetPageSite(IPropertyPageSite* site) {
    m_site = tarnwick::ComPtr<IPropertyPageSite>(site);
    return S_OK;
}

STDMETHODIMP CTarnwickPropPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect) return E_POINTER;
    if (m_dialog) return E_UNEXPECTED;  // the frame deactivates a page before activating it
    m_dialog = CreateDialogParamW(tarnwick::ModuleInstance(),
                                  MAKEINTRESOURCEW(IDD_PROPPAGE_TARNWICK), parent,
                                  PageDialogProc, 0);
    if (!m_dialog) {
        DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    MoveWindow(m_dialog, rect->left, rect->top, rect->right - rect->left,
               rect->bottom - rect->top, FALSE);
    return S_OK;
}

STDMETHODIMP CTarnwickPropPage::Deactivate() {
    if (m_dialog) {
        DestroyWindow(m_dialog);
        m_dialog = nullptr;
    }
    return S_OK;
}

STDMETHODIMP CTarnwickPropPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info) return E_POINTER;
    info->pszTitle = nullptr;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    info->size = {0, 0};
    try {
        std::wstring title =
            tarnwick::LoadModuleString(IDS_TARNWICK_PPG_CAPTION);
        info->pszTitle = tarnwick::TaskStringDup(title.c_str());
        if (!info->pszTitle) return E_OUTOFMEMORY;
        info->size = TarnwickPropPageSize();
    } catch (...) {
        CoTaskMemFree(info->pszTitle);
        info->pszTitle = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CTarnwickPropPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count && !objects) return E_POINTER;
    ReleaseObjects();
    try {
        m_objects.reserve(count);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (!objects[i]) continue;
        objects[i]->AddRef();
        m_objects.push_back(objects[i]);
    }
    return S_OK;
}

STDMETHODIMP CTarnwickPropPage::Show(UINT command) {
    if (!m_dialog) return E_UNEXPECTED;
    ShowWindow(m_dialog, command);
    return S_OK;
}

STDMETHODIMP CTarnwickPropPage::Move(LPCRECT rect) {
    if (!rect) return E_POINTER;
    if (!m_dialog) return E_UNEXPECTED;
    MoveWindow(m_dialog, rect->left, rect->top, rect->right - rect->left,
               rect->bottom - rect->top, TRUE);
    return S_OK;
}

// Nothing on the page changes the control: never dirty, and applying is done at once.
STDMETHODIMP CTarnwickPropPage::IsPageDirty() { return S_FALSE; }
STDMETHODIMP CTarnwickPropPage::Apply() { return S_OK; }

STDMETHODIMP CTarnwickPropPage::Help(LPCOLESTR) { return E_NOTIMPL; }

STDMETHODIMP CTarnwickPropPage::TranslateAccelerator(MSG* msg) {
    if (!msg) return E_POINTER;
    if (m_dialog && IsDialogMessageW(m_dialog, msg)) return S_OK;
    return S_FALSE;
}

HRESULT CreateTarnwickPropPage(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CTarnwickPropPage* page = new (std::nothrow) CTarnwickPropPage();
    if (!page) return E_OUTOFMEMORY;
    HRESULT hr = page->QueryInterface(riid, ppv);
    page->Release();
    return hr;
}
