// What a container learns about the control's class: its coclass type information, its event
// interface with the one connection point for it, and its property page.
#include "OleControl.h"
#include "OleControlEnum.h"
#include "Guids.h"
#include "framework/ModuleState.h"
#include "ComShared.h"
#include "framework/Strings.h"

using tarnwick::ComPtr;

namespace {

struct ConnectionTraits {
    static HRESULT Copy(CONNECTDATA* to, const CONNECTDATA& from) {
        *to = from;
        if (to->pUnk) to->pUnk->AddRef();
        return S_OK;
    }
    static void Destroy(CONNECTDATA& item) {
        if (item.pUnk) item.pUnk->Release();
        item.pUnk = nullptr;
    }
};
using ConnectionEnum = tarnwick::SnapshotEnum<IEnumConnections, CONNECTDATA,
                                              &IID_IEnumConnections, ConnectionTraits>;

struct PointTraits {
    static HRESULT Copy(IConnectionPoint** to, IConnectionPoint* from) {
        *to = from;
        if (from) from->AddRef();
        return S_OK;
    }
    static void Destroy(IConnectionPoint*& item) {
        if (item) item->Release();
        item = nullptr;
    }
};
using PointEnum = tarnwick::SnapshotEnum<IEnumConnectionPoints, IConnectionPoint*,
                                         &IID_IEnumConnectionPoints, PointTraits>;

}  // namespace

// ---- the connection point of _DTarnwickEvents ----
// It lives inside the control, so its reference count is the control's.

CTarnwickConnectionPoint::~CTarnwickConnectionPoint() { DisconnectAll(); }

void CTarnwickConnectionPoint::DisconnectAll() {
    std::vector<Sink> sinks;
    sinks.swap(m_sinks);
    for (Sink& sink : sinks) sink.unknown->Release();
}

STDMETHODIMP CTarnwickConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CTarnwickConnectionPoint::AddRef() { return m_control->AddRef(); }
STDMETHODIMP_(ULONG) CTarnwickConnectionPoint::Release() { return m_control->Release(); }

STDMETHODIMP CTarnwickConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = DIID__DTarnwickEvents;
    return S_OK;
}

STDMETHODIMP CTarnwickConnectionPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    return m_control->QueryInterface(IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(container));
}

STDMETHODIMP CTarnwickConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // A sink is an implementation of the event dispinterface; one that only says IDispatch is
    // taken as well, as script engines' sinks do.
    IUnknown* events = nullptr;
    if (FAILED(sink->QueryInterface(DIID__DTarnwickEvents, reinterpret_cast<void**>(&events))) ||
        !events) {
        events = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))) ||
            !events)
            return CONNECT_E_CANNOTCONNECT;
    }
    try {
        m_sinks.push_back({m_nextCookie, events});
    } catch (...) {
        events->Release();
        return E_OUTOFMEMORY;
    }
    *cookie = m_nextCookie++;
    if (m_nextCookie == 0) m_nextCookie = 1;
    return S_OK;
}

STDMETHODIMP CTarnwickConnectionPoint::Unadvise(DWORD cookie) {
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
        if (it->cookie == cookie) {
            IUnknown* unknown = it->unknown;
            m_sinks.erase(it);
            unknown->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP CTarnwickConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    std::vector<CONNECTDATA> items;
    try {
        items.reserve(m_sinks.size());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (const Sink& sink : m_sinks) {
        CONNECTDATA data = {sink.unknown, sink.cookie};
        sink.unknown->AddRef();
        items.push_back(data);
    }
    return ConnectionEnum::Create(std::move(items), connections);
}

// ---- IConnectionPointContainer ----

STDMETHODIMP CTarnwickCtrl::OleState::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points) return E_POINTER;
    *points = nullptr;
    std::vector<IConnectionPoint*> items;
    try {
        items.push_back(&m_events);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    m_events.AddRef();
    return PointEnum::Create(std::move(items), points);
}

STDMETHODIMP CTarnwickCtrl::OleState::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, DIID__DTarnwickEvents)) return CONNECT_E_NOCONNECTION;
    *point = &m_events;
    m_events.AddRef();
    return S_OK;
}

// ---- IProvideClassInfo2 ----

STDMETHODIMP CTarnwickCtrl::OleState::GetClassInfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    ComPtr<ITypeLib> library;
    HRESULT hr = tarnwick::LoadControlTypeLib(library.put());
    if (FAILED(hr)) return hr;
    return library->GetTypeInfoOfGuid(CLSID_Tarnwick, info);
}

STDMETHODIMP CTarnwickCtrl::OleState::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID__DTarnwickEvents;
    return S_OK;
}

// ---- ISpecifyPropertyPages ----

STDMETHODIMP CTarnwickCtrl::OleState::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = CLSID_TarnwickPropPage;
    pages->cElems = 1;
    return S_OK;
}
