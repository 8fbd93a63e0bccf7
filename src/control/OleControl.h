// The control's side of the control-container protocol: embedding (IOleObject), in-place
// activation, drawing, persistence, class information, the event connection point and the
// property page list. One OleState per control holds the interfaces and the per-object state;
// every interface forwards its identity and reference count to the control, so a container
// sees one object.
#pragma once
#include "TarnwickCtrl.h"
#include "Owners.h"
#include <ocidl.h>
#include <olectl.h>
#include <vector>

namespace tarnwick {

// The version written by every save; older ones are read and upgraded on the next save.
constexpr DWORD kPersistVersion = 0x00010000;
constexpr DWORD kControlMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INVISIBLEATRUNTIME |
                                     OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                                     OLEMISC_RECOMPOSEONRESIZE;  // 0x20491
// Extent of a new control: 100 x 50 pixels at 96 dpi, in HIMETRIC.
constexpr LONG kDefaultExtentX = 2646;
constexpr LONG kDefaultExtentY = 1323;

// Fills the bounds white and draws the control's ellipse in them with the DC's pen and brush;
// nothing outside the bounds is touched.
void DrawControlFace(HDC dc, const RECT& bounds);

}  // namespace tarnwick

// The event connection point: sinks of _DTarnwickEvents, by cookie.
class CTarnwickConnectionPoint : public IConnectionPoint {
public:
    explicit CTarnwickConnectionPoint(CTarnwickCtrl* control) : m_control(control) {}
    ~CTarnwickConnectionPoint();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    void DisconnectAll();

private:
    struct Sink {
        DWORD cookie;
        IUnknown* unknown;  // owned reference
    };
    CTarnwickCtrl* m_control;
    std::vector<Sink> m_sinks;
    DWORD m_nextCookie = 1;
};

struct CTarnwickCtrl::OleState final : public IOleObject,
                                 public IOleControl,
                                 public IOleInPlaceObjectWindowless,
                                 public IOleInPlaceActiveObject,
                                 public IViewObject2,
                                 public IPersistStreamInit,
                                 public IPersistPropertyBag,
                                 public IPersistStorage,
                                 public IProvideClassInfo2,
                                 public IConnectionPointContainer,
                                 public ISpecifyPropertyPages,
                                 public IQuickActivate {
    explicit OleState(CTarnwickCtrl* control) : m_control(control), m_events(control) {}
    ~OleState();
    OleState(const OleState&) = delete;
    OleState& operator=(const OleState&) = delete;

    // IUnknown: the control's identity.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* activeSite, LONG index,
                        HWND parent, LPCRECT pos) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG* msg) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
    STDMETHODIMP FreezeEvents(BOOL freeze) override;

    // IOleWindow (both in-place interfaces)
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
    // IOleInPlaceObject(Windowless)
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;
    STDMETHODIMP OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam,
                                 LRESULT* result) override;
    STDMETHODIMP GetDropTarget(IDropTarget** target) override;
    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;

    // IViewObject2
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                      HDC targetDc, HDC drawDc, LPCRECTL bounds, LPCRECTL wBounds,
                      BOOL(STDMETHODCALLTYPE* continueFn)(ULONG_PTR), ULONG_PTR continueArg) override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                             HDC targetDc, LOGPALETTE** colors) override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    STDMETHODIMP Unfreeze(DWORD freeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag, IPersistStorage
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
    STDMETHODIMP InitNew(IStorage* storage) override;
    STDMETHODIMP Load(IStorage* storage) override;
    STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage* storage) override;
    STDMETHODIMP HandsOffStorage() override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IQuickActivate
    STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    STDMETHODIMP SetContentExtent(LPSIZEL size) override;
    STDMETHODIMP GetContentExtent(LPSIZEL size) override;

    // Helpers
    HRESULT ActivateInPlace(LONG verb, IOleClientSite* site, HWND parent, LPCRECT pos);
    HRESULT ShowProperties(IOleClientSite* site, HWND parent);
    HRESULT LoadVersion(DWORD version);
    HRESULT CreateControlWindow(HWND parent);
    void DestroyControlWindow();
    void NotifyViewChange();

    CTarnwickCtrl* m_control;
    CTarnwickConnectionPoint m_events;

    tarnwick::ComPtr<IOleClientSite> m_clientSite;
    tarnwick::ComPtr<IOleAdviseHolder> m_adviseHolder;
    tarnwick::ComPtr<IAdviseSink> m_viewSink;
    DWORD m_viewAspects = 0;
    DWORD m_viewFlags = 0;
    SIZEL m_extent = {tarnwick::kDefaultExtentX, tarnwick::kDefaultExtentY};

    // In-place state.
    tarnwick::ComPtr<IOleInPlaceSite> m_inPlaceSite;
    tarnwick::ComPtr<IOleInPlaceSiteWindowless> m_windowlessSite;
    tarnwick::ComPtr<IOleInPlaceFrame> m_frame;
    tarnwick::ComPtr<IOleInPlaceUIWindow> m_uiWindow;
    bool m_inPlaceActive = false;
    bool m_uiActive = false;
    HWND m_window = nullptr;
    RECT m_pos = {};
    RECT m_clip = {};

    // Persistent state.
    bool m_dirty = false;
    tarnwick::ComPtr<IStorage> m_storage;

    LONG m_freezeCount = 0;
};
