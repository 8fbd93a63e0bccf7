// The control in a container: identity of the OLE interfaces, embedding (IOleObject), verbs,
// in-place activation and quick activation.
//
// The control is invisible at run time, so it needs no window of its own: with a container that
// offers IOleInPlaceSiteWindowless (as a browser's document does) it activates windowless and
// draws only when asked through IViewObject::Draw. A container that only knows windowed
// activation expects IOleInPlaceObject::GetWindow to give a window, so there the control makes
// a hidden child window at its position rectangle, which paints the same face if anyone shows
// it.
#include "OleControl.h"
#include "OleControlEnum.h"
#include "Guids.h"
#include "ComShared.h"
#include "framework/ModuleState.h"
#include "framework/Strings.h"
#include "resource.h"
#include <cwchar>
#include <new>

using tarnwick::ComPtr;

namespace {

const IID* const kOleInterfaces[] = {
    &IID_IOleObject,          &IID_IOleControl,         &IID_IOleWindow,
    &IID_IOleInPlaceObject,   &IID_IOleInPlaceObjectWindowless,
    &IID_IOleInPlaceActiveObject, &IID_IViewObject,     &IID_IViewObject2,
    &IID_IPersist,            &IID_IPersistStreamInit,  &IID_IPersistPropertyBag,
    &IID_IPersistStorage,     &IID_IProvideClassInfo,   &IID_IProvideClassInfo2,
    &IID_IConnectionPointContainer, &IID_ISpecifyPropertyPages, &IID_IQuickActivate,
};

bool IsOleInterface(REFIID riid) {
    for (const IID* iid : kOleInterfaces) {
        if (IsEqualIID(riid, *iid)) return true;
    }
    return false;
}

struct VerbTraits {
    static HRESULT Copy(OLEVERB* to, const OLEVERB& from) {
        *to = from;
        to->lpszVerbName = nullptr;
        if (from.lpszVerbName) {
            to->lpszVerbName = tarnwick::TaskStringDup(from.lpszVerbName);
            if (!to->lpszVerbName) return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    static void Destroy(OLEVERB& verb) {
        CoTaskMemFree(verb.lpszVerbName);
        verb.lpszVerbName = nullptr;
    }
};
using VerbEnum = tarnwick::SnapshotEnum<IEnumOLEVERB, OLEVERB, &IID_IEnumOLEVERB, VerbTraits>;

}  // namespace

// ---- identity: the control answers, the OLE layer holds the interfaces ----

HRESULT CTarnwickCtrl::QueryOleInterface(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (!IsOleInterface(riid)) return E_NOINTERFACE;
    if (!m_pOle) {
        m_pOle = new (std::nothrow) OleState(this);
        if (!m_pOle) return E_OUTOFMEMORY;
    }
    OleState* s = m_pOle;
    if (IsEqualIID(riid, IID_IOleObject)) *ppv = static_cast<IOleObject*>(s);
    else if (IsEqualIID(riid, IID_IOleControl)) *ppv = static_cast<IOleControl*>(s);
    else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject) ||
             IsEqualIID(riid, IID_IOleInPlaceObjectWindowless))
        *ppv = static_cast<IOleInPlaceObjectWindowless*>(s);
    else if (IsEqualIID(riid, IID_IOleInPlaceActiveObject))
        *ppv = static_cast<IOleInPlaceActiveObject*>(s);
    else if (IsEqualIID(riid, IID_IViewObject) || IsEqualIID(riid, IID_IViewObject2))
        *ppv = static_cast<IViewObject2*>(s);
    else if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IPersistStreamInit))
        *ppv = static_cast<IPersistStreamInit*>(s);
    else if (IsEqualIID(riid, IID_IPersistPropertyBag)) *ppv = static_cast<IPersistPropertyBag*>(s);
    else if (IsEqualIID(riid, IID_IPersistStorage)) *ppv = static_cast<IPersistStorage*>(s);
    else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2))
        *ppv = static_cast<IProvideClassInfo2*>(s);
    else if (IsEqualIID(riid, IID_IConnectionPointContainer))
        *ppv = static_cast<IConnectionPointContainer*>(s);
    else if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
        *ppv = static_cast<ISpecifyPropertyPages*>(s);
    else
        *ppv = static_cast<IQuickActivate*>(s);
    AddRef();
    return S_OK;
}

void CTarnwickCtrl::DestroyOleState(OleState* state) { delete state; }

CTarnwickCtrl::OleState::~OleState() {
    // The container has let go of the control, so no site is called back from here.
    DestroyControlWindow();
    m_events.DisconnectAll();
}

STDMETHODIMP CTarnwickCtrl::OleState::QueryInterface(REFIID riid, void** ppv) {
    return m_control->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CTarnwickCtrl::OleState::AddRef() { return m_control->AddRef(); }
STDMETHODIMP_(ULONG) CTarnwickCtrl::OleState::Release() { return m_control->Release(); }

// ---- IOleObject ----

STDMETHODIMP CTarnwickCtrl::OleState::SetClientSite(IOleClientSite* site) {
    m_clientSite = ComPtr<IOleClientSite>(site);
    m_control->SiteChanged(site);
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = m_clientSite.get();
    if (*site) (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

STDMETHODIMP CTarnwickCtrl::OleState::Close(DWORD saveOption) {
    if (saveOption != OLECLOSE_SAVEIFDIRTY && saveOption != OLECLOSE_NOSAVE &&
        saveOption != OLECLOSE_PROMPTSAVE)
        return E_INVALIDARG;
    ComPtr<IUnknown> keepAlive(static_cast<IOleObject*>(this));
    InPlaceDeactivate();
    // The control has no user interface to prompt with: a prompted close saves as well.
    if (saveOption != OLECLOSE_NOSAVE && m_dirty && m_clientSite) {
        HRESULT hr = m_clientSite->SaveObject();
        if (FAILED(hr)) return hr;
    }
    if (m_adviseHolder) m_adviseHolder->SendOnClose();
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

STDMETHODIMP CTarnwickCtrl::OleState::GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) {
    if (!moniker) return E_POINTER;
    *moniker = nullptr;
    if (!m_clientSite) return E_UNEXPECTED;
    return m_clientSite->GetMoniker(assign, which, moniker);
}

// The control has no data formats to be initialised from or to put on the clipboard.
STDMETHODIMP CTarnwickCtrl::OleState::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

STDMETHODIMP CTarnwickCtrl::OleState::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CTarnwickCtrl::OleState::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG,
                                             HWND parent, LPCRECT pos) {
    IOleClientSite* site = m_clientSite ? m_clientSite.get() : activeSite;
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        return ActivateInPlace(verb, site, parent, pos);
    case OLEIVERB_PROPERTIES:
        return ShowProperties(site, parent);
    case OLEIVERB_HIDE:
        UIDeactivate();
        if (m_window) ShowWindow(m_window, SW_HIDE);
        return S_OK;
    case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;  // nothing is ever undoable
    case OLEIVERB_OPEN:
        return E_NOTIMPL;  // an inside-out control has no open editing window
    default:
        if (verb > 0) {
            // An unknown positive verb does the primary verb and says so.
            HRESULT hr = ActivateInPlace(OLEIVERB_PRIMARY, site, parent, pos);
            return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
        }
        return E_NOTIMPL;
    }
}

STDMETHODIMP CTarnwickCtrl::OleState::EnumVerbs(IEnumOLEVERB** verbs) {
    if (!verbs) return E_POINTER;
    *verbs = nullptr;
    std::vector<OLEVERB> items;
    try {
        OLEVERB properties = {OLEIVERB_PROPERTIES, const_cast<LPOLESTR>(L"&Properties..."), 0,
                              OLEVERBATTRIB_ONCONTAINERMENU};
        OLEVERB copy;
        HRESULT hr = VerbTraits::Copy(&copy, properties);
        if (FAILED(hr)) return hr;
        items.push_back(copy);
    } catch (...) {
        for (OLEVERB& v : items) VerbTraits::Destroy(v);
        return E_OUTOFMEMORY;
    }
    return VerbEnum::Create(std::move(items), verbs);
}

STDMETHODIMP CTarnwickCtrl::OleState::Update() { return S_OK; }
STDMETHODIMP CTarnwickCtrl::OleState::IsUpToDate() { return S_OK; }

STDMETHODIMP CTarnwickCtrl::OleState::GetUserClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_Tarnwick;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetUserType(DWORD form, LPOLESTR* type) {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (form != USERCLASSTYPE_FULL && form != USERCLASSTYPE_SHORT && form != USERCLASSTYPE_APPNAME)
        return E_INVALIDARG;
    try {
        std::wstring name = tarnwick::LoadModuleString(IDS_TARNWICK);
        if (name.empty()) return OLE_S_USEREG;
        *type = tarnwick::TaskStringDup(name.c_str());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return *type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CTarnwickCtrl::OleState::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_INVALIDARG;
    if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
    if (size->cx != m_extent.cx || size->cy != m_extent.cy) {
        m_extent = *size;
        NotifyViewChange();
    }
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetExtent(DWORD aspect, SIZEL* size) {
    if (!size) return E_INVALIDARG;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = m_extent;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::Advise(IAdviseSink* sink, DWORD* connection) {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!sink) return E_INVALIDARG;
    if (!m_adviseHolder) {
        HRESULT hr = CreateOleAdviseHolder(m_adviseHolder.put());
        if (FAILED(hr)) return hr;
    }
    return m_adviseHolder->Advise(sink, connection);
}

STDMETHODIMP CTarnwickCtrl::OleState::Unadvise(DWORD connection) {
    if (!m_adviseHolder) return OLE_E_NOCONNECTION;
    return m_adviseHolder->Unadvise(connection);
}

STDMETHODIMP CTarnwickCtrl::OleState::EnumAdvise(IEnumSTATDATA** advise) {
    if (!advise) return E_POINTER;
    *advise = nullptr;
    if (!m_adviseHolder) {
        HRESULT hr = CreateOleAdviseHolder(m_adviseHolder.put());
        if (FAILED(hr)) return hr;
    }
    return m_adviseHolder->EnumAdvise(advise);
}

STDMETHODIMP CTarnwickCtrl::OleState::GetMiscStatus(DWORD, DWORD* status) {
    if (!status) return E_POINTER;
    *status = tarnwick::kControlMiscStatus;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- IOleControl: no mnemonics, no ambient properties the control depends on ----

STDMETHODIMP CTarnwickCtrl::OleState::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::OnMnemonic(MSG*) { return E_NOTIMPL; }
STDMETHODIMP CTarnwickCtrl::OleState::OnAmbientPropertyChange(DISPID) { return S_OK; }

STDMETHODIMP CTarnwickCtrl::OleState::FreezeEvents(BOOL freeze) {
    if (freeze) ++m_freezeCount;
    else if (m_freezeCount > 0) --m_freezeCount;
    return S_OK;
}

// ---- in-place activation ----

HRESULT CTarnwickCtrl::OleState::ActivateInPlace(LONG verb, IOleClientSite* site, HWND parent,
                                                 LPCRECT pos) {
    if (!site) return E_UNEXPECTED;
    ComPtr<IUnknown> keepAlive(static_cast<IOleObject*>(this));
    if (!m_inPlaceActive) {
        ComPtr<IOleInPlaceSite> inPlace;
        if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void())) || !inPlace)
            return OLE_E_NOT_INPLACEACTIVE;
        if (inPlace->CanInPlaceActivate() != S_OK) return OLE_E_NOT_INPLACEACTIVE;

        ComPtr<IOleInPlaceSiteWindowless> windowless;
        if (FAILED(site->QueryInterface(IID_IOleInPlaceSiteWindowless, windowless.put_void())) ||
            !windowless || windowless->CanWindowlessActivate() != S_OK)
            windowless.reset();

        HRESULT hr;
        if (windowless) {
            BOOL noRedraw = FALSE;
            hr = windowless->OnInPlaceActivateEx(&noRedraw, ACTIVATE_WINDOWLESS);
        } else {
            hr = inPlace->OnInPlaceActivate();
        }
        if (FAILED(hr)) return hr;
        m_inPlaceSite = inPlace;
        m_windowlessSite = windowless;
        m_inPlaceActive = true;

        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof(frameInfo);
        RECT sitePos = {}, siteClip = {};
        if (SUCCEEDED(inPlace->GetWindowContext(m_frame.put(), m_uiWindow.put(), &sitePos,
                                                &siteClip, &frameInfo))) {
            m_pos = sitePos;
            m_clip = siteClip;
        } else if (pos) {
            m_pos = *pos;
            m_clip = *pos;
        }
        if (!windowless) {
            HWND container = nullptr;
            if (FAILED(inPlace->GetWindow(&container)) || !container) container = parent;
            hr = CreateControlWindow(container);
            if (FAILED(hr)) {
                InPlaceDeactivate();
                return hr;
            }
        }
    }
    if (verb == OLEIVERB_UIACTIVATE && !m_uiActive && m_inPlaceSite) {
        m_uiActive = true;
        m_inPlaceSite->OnUIActivate();
        auto* active = static_cast<IOleInPlaceActiveObject*>(this);
        if (m_frame) {
            m_frame->SetActiveObject(active, nullptr);
            m_frame->SetBorderSpace(nullptr);  // no tools: the container keeps its borders
        }
        if (m_uiWindow) m_uiWindow->SetActiveObject(active, nullptr);
    }
    if (verb == OLEIVERB_SHOW) site->ShowObject();
    return S_OK;
}

HRESULT CTarnwickCtrl::OleState::ShowProperties(IOleClientSite* site, HWND parent) {
    // A container that shows property frames of its own (with its extended properties) goes
    // first; otherwise the control shows the system frame over its page.
    if (site) {
        ComPtr<IOleControlSite> controlSite;
        if (SUCCEEDED(site->QueryInterface(IID_IOleControlSite, controlSite.put_void())) &&
            controlSite && controlSite->ShowPropertyFrame() == S_OK)
            return S_OK;
    }
    HWND owner = parent;
    if (!owner && m_inPlaceSite) m_inPlaceSite->GetWindow(&owner);
    ComPtr<IUnknown> self(static_cast<IDispatch*>(m_control));
    IUnknown* objects[1] = {self.get()};
    CLSID page = CLSID_TarnwickPropPage;
    std::wstring caption;
    try {
        caption = tarnwick::LoadModuleString(IDS_TARNWICK);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return OleCreatePropertyFrame(owner, 0, 0, caption.c_str(), 1, objects, 1, &page,
                                  LOCALE_USER_DEFAULT, 0, nullptr);
}

STDMETHODIMP CTarnwickCtrl::OleState::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = m_window;
    return m_window ? S_OK : E_FAIL;
}

STDMETHODIMP CTarnwickCtrl::OleState::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP CTarnwickCtrl::OleState::InPlaceDeactivate() {
    if (!m_inPlaceActive) return S_OK;
    ComPtr<IUnknown> keepAlive(static_cast<IOleObject*>(this));
    UIDeactivate();
    DestroyControlWindow();
    m_inPlaceActive = false;
    ComPtr<IOleInPlaceSite> site = m_inPlaceSite;
    ComPtr<IOleInPlaceSiteWindowless> windowless = m_windowlessSite;
    m_inPlaceSite.reset();
    m_windowlessSite.reset();
    m_frame.reset();
    m_uiWindow.reset();
    if (windowless) windowless->OnInPlaceDeactivateEx(TRUE);
    else if (site) site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::UIDeactivate() {
    if (!m_uiActive) return S_OK;
    m_uiActive = false;
    if (m_uiWindow) m_uiWindow->SetActiveObject(nullptr, nullptr);
    if (m_frame) m_frame->SetActiveObject(nullptr, nullptr);
    if (m_inPlaceSite) m_inPlaceSite->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::SetObjectRects(LPCRECT pos, LPCRECT clip) {
    if (!pos) return E_POINTER;
    m_pos = *pos;
    m_clip = clip ? *clip : *pos;
    if (m_window) {
        MoveWindow(m_window, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top,
                   TRUE);
    }
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

// The control takes no input: every message stays with the container.
STDMETHODIMP CTarnwickCtrl::OleState::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
    if (result) *result = 0;
    return S_FALSE;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetDropTarget(IDropTarget** target) {
    if (!target) return E_POINTER;
    *target = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CTarnwickCtrl::OleState::TranslateAccelerator(LPMSG) { return S_FALSE; }
STDMETHODIMP CTarnwickCtrl::OleState::OnFrameWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP CTarnwickCtrl::OleState::OnDocWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP CTarnwickCtrl::OleState::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}
STDMETHODIMP CTarnwickCtrl::OleState::EnableModeless(BOOL) { return S_OK; }

// ---- IQuickActivate: the site, the view sink and the event sink in one call ----

STDMETHODIMP CTarnwickCtrl::OleState::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (!container || !control) return E_POINTER;
    if (container->cbSize < offsetof(QACONTAINER, dwAmbientFlags) ||
        control->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    SetClientSite(container->pClientSite);
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    DWORD cookie = 0;
    if (container->pUnkEventSink && FAILED(m_events.Advise(container->pUnkEventSink, &cookie)))
        cookie = 0;
    control->dwMiscStatus = tarnwick::kControlMiscStatus;
    control->dwViewStatus = 0;
    control->dwEventCookie = cookie;
    control->dwPropNotifyCookie = 0;  // no bindable properties
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::SetContentExtent(LPSIZEL size) {
    return SetExtent(DVASPECT_CONTENT, size);
}

STDMETHODIMP CTarnwickCtrl::OleState::GetContentExtent(LPSIZEL size) {
    return static_cast<IOleObject*>(this)->GetExtent(DVASPECT_CONTENT, size);
}
