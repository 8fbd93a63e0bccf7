// The control in a container. A small container (client site, in-place site with or without
// windowless support, frame, advise and event sinks, property bag) drives the control module the
// way a document host does: the module is loaded with LoadLibrary from the test's directory and
// objects come from its DllGetClassObject, so DllCanUnloadNow can be asked at the end of every
// case. The property frame case needs a display (xvfb): a watcher thread finds the modal frame,
// checks the page inside it and closes it.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <ocidl.h>
#include <objsafe.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace container_test {

// ---- ids, written out here so the test does not share the module's headers ----

GUID Guid(const wchar_t* text) {
    GUID g = {};
    CLSIDFromString(const_cast<LPOLESTR>(text), &g);
    return g;
}
const GUID kClsidControl = Guid(L"{75614F24-3276-4CE9-A2C8-72A811129FDF}");
const GUID kClsidPage = Guid(L"{F124E7BF-3C68-4AFC-B779-E244DB192CE7}");
const GUID kDiidEvents = Guid(L"{A712BE60-1606-48D4-83A3-2D00B16EC560}");
const GUID kDiidScript = Guid(L"{B6930C7C-3620-40CC-9DE9-5DADC05D490E}");
constexpr DWORD kMiscStatus = 0x20491;
constexpr DWORD kVersion = 0x00010000;
constexpr ULONG kPoison = 0xDEADBEEF;

// ---- the module ----

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

struct Module {
    HMODULE handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadFn canUnloadNow = nullptr;
};

std::string ExeDirectory() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

const Module& TheModule() {
    static Module module = [] {
        Module m;
        m.handle = LoadLibraryA((ExeDirectory() + "tarnwick.OCX").c_str());
        if (m.handle) {
            m.getClassObject =
                reinterpret_cast<GetClassObjectFn>(GetProcAddress(m.handle, "DllGetClassObject"));
            m.canUnloadNow =
                reinterpret_cast<CanUnloadFn>(GetProcAddress(m.handle, "DllCanUnloadNow"));
        }
        return m;
    }();
    return module;
}

template <typename T>
HRESULT CreateFromModule(REFCLSID clsid, REFIID iid, T** out) {
    *out = reinterpret_cast<T*>(static_cast<uintptr_t>(kPoison));
    IClassFactory* factory = nullptr;
    HRESULT hr = TheModule().getClassObject(clsid, IID_IClassFactory,
                                            reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        *out = nullptr;
        return hr;
    }
    hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(out));
    factory->Release();
    return hr;
}

template <typename T>
T* Query(IUnknown* unknown, REFIID iid) {
    T* p = nullptr;
    if (FAILED(unknown->QueryInterface(iid, reinterpret_cast<void**>(&p)))) return nullptr;
    return p;
}

ULONG RefCount(IUnknown* unknown) {
    unknown->AddRef();
    return unknown->Release();
}

// A COM object of the test: one reference count, starting at 1, that the test checks at the end.
template <typename Base>
class TestObject : public Base {
public:
    LONG refs = 1;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
};

// ---- the container's pieces ----

class TestFrame : public TestObject<IOleInPlaceFrame> {
public:
    HWND window = nullptr;
    IOleInPlaceActiveObject* active = nullptr;  // owned
    int setActiveCalls = 0;
    ~TestFrame() {
        if (active) active->Release();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow) ||
            IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame)) {
            *ppv = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP GetWindow(HWND* w) override { *w = window; return S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        ++setActiveCalls;
        if (object) object->AddRef();
        if (active) active->Release();
        active = object;
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
};

// The client site, in-place site (windowless when allowed) and control site of one control.
class TestSite : public IOleClientSite, public IOleInPlaceSiteWindowless, public IOleControlSite {
public:
    LONG refs = 1;
    bool offerWindowless = true;
    bool allowInPlace = true;
    HRESULT showPropertyFrame = E_NOTIMPL;
    HWND window = nullptr;
    RECT pos = {20, 30, 220, 130};
    TestFrame frame;

    // What the control did.
    int showObject = 0, saveObject = 0, canWindowless = 0;
    int activate = 0, activateEx = 0, deactivate = 0, deactivateEx = 0;
    int uiActivate = 0, uiDeactivate = 0, propertyFrame = 0;
    DWORD activateExFlags = kPoison;

    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
            *ppv = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(riid, IID_IOleControlSite))
            *ppv = static_cast<IOleControlSite*>(this);
        else if (allowInPlace && (IsEqualIID(riid, IID_IOleWindow) ||
                                  IsEqualIID(riid, IID_IOleInPlaceSite)))
            *ppv = static_cast<IOleInPlaceSiteWindowless*>(this);
        else if (allowInPlace && offerWindowless &&
                 (IsEqualIID(riid, IID_IOleInPlaceSiteEx) ||
                  IsEqualIID(riid, IID_IOleInPlaceSiteWindowless)))
            *ppv = static_cast<IOleInPlaceSiteWindowless*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { ++saveObject; return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override { *m = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** c) override { *c = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { ++showObject; return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceSite(Ex, Windowless)
    STDMETHODIMP GetWindow(HWND* w) override { *w = window; return window ? S_OK : E_FAIL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { ++activate; return S_OK; }
    STDMETHODIMP OnUIActivate() override { ++uiActivate; return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** f, IOleInPlaceUIWindow** ui, LPRECT p,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        *f = &frame;
        frame.AddRef();
        *ui = nullptr;
        *p = pos;
        *clip = pos;
        info->fMDIApp = FALSE;
        info->hwndFrame = window;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { ++uiDeactivate; return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { ++deactivate; return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override {
        ++activateEx;
        activateExFlags = flags;
        if (noRedraw) *noRedraw = FALSE;
        return S_OK;
    }
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL) override { ++deactivateEx; return S_OK; }
    STDMETHODIMP RequestUIActivate() override { return S_OK; }
    STDMETHODIMP CanWindowlessActivate() override { ++canWindowless; return S_OK; }
    STDMETHODIMP GetCapture() override { return S_FALSE; }
    STDMETHODIMP SetCapture(BOOL) override { return S_OK; }
    STDMETHODIMP GetFocus() override { return S_FALSE; }
    STDMETHODIMP SetFocus(BOOL) override { return S_OK; }
    STDMETHODIMP GetDC(LPCRECT, DWORD, HDC*) override { return E_NOTIMPL; }
    STDMETHODIMP ReleaseDC(HDC) override { return E_NOTIMPL; }
    STDMETHODIMP InvalidateRect(LPCRECT, BOOL) override { return S_OK; }
    STDMETHODIMP InvalidateRgn(HRGN, BOOL) override { return S_OK; }
    STDMETHODIMP ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    STDMETHODIMP AdjustRect(LPRECT) override { return S_OK; }
    STDMETHODIMP OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return S_OK; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** d) override { *d = nullptr; return E_NOTIMPL; }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { ++propertyFrame; return showPropertyFrame; }
};

class TestAdviseSink : public TestObject<IAdviseSinkEx> {
public:
    int viewChanges = 0, closes = 0;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAdviseSink) ||
            IsEqualIID(riid, IID_IAdviseSinkEx)) {
            *ppv = static_cast<IAdviseSinkEx*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override { ++viewChanges; }
    STDMETHODIMP_(void) OnRename(IMoniker*) override {}
    STDMETHODIMP_(void) OnSave() override {}
    STDMETHODIMP_(void) OnClose() override { ++closes; }
    STDMETHODIMP_(void) OnViewStatusChange(DWORD) override {}
};

// An event sink; it can answer the event interface, only IDispatch, or neither.
class TestEventSink : public TestObject<IDispatch> {
public:
    enum Answers { kEventInterface, kDispatchOnly, kNothing } answers = kEventInterface;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        bool yes = IsEqualIID(riid, IID_IUnknown) ||
                   (answers != kNothing && IsEqualIID(riid, IID_IDispatch)) ||
                   (answers == kEventInterface && IsEqualIID(riid, kDiidEvents));
        *ppv = yes ? static_cast<IDispatch*>(this) : nullptr;
        if (!yes) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return S_OK;
    }
};

class TestPropertyBag : public TestObject<IPropertyBag> {
public:
    std::map<std::wstring, VARIANT> values;
    ~TestPropertyBag() {
        for (auto& v : values) VariantClear(&v.second);
    }
    void SetI4(const wchar_t* name, LONG value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        Write(name, &v);
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyBag)) {
            *ppv = static_cast<IPropertyBag*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        auto it = values.find(name);
        if (it == values.end()) return E_INVALIDARG;
        VARTYPE wanted = value->vt;
        VariantInit(value);
        HRESULT hr = VariantCopy(value, &it->second);
        if (SUCCEEDED(hr) && wanted != VT_EMPTY && wanted != value->vt)
            hr = VariantChangeType(value, value, 0, wanted);
        return hr;
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override {
        VARIANT& slot = values[name];
        VariantClear(&slot);
        VariantInit(&slot);
        return VariantCopy(&slot, value);
    }
};

// ---- fixture: OLE, a container window, the control and its site ----

class ContainerTest : public ::testing::Test {
protected:
    IOleObject* control = nullptr;
    TestSite site;

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_NE(TheModule().handle, nullptr) << "tarnwick.OCX beside the test";
        ASSERT_NE(TheModule().getClassObject, nullptr);
        // Without a display Wine makes no windows; the cases that need one skip.
        site.window = CreateWindowExA(0, "STATIC", "container", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                                      300, nullptr, nullptr, nullptr, nullptr);
        site.frame.window = site.window;
        ASSERT_EQ(S_OK, CreateFromModule(kClsidControl, IID_IOleObject, &control));
        ASSERT_NE(control, nullptr);
    }

    void TearDown() override {
        if (control) {
            control->SetClientSite(nullptr);
            EXPECT_EQ(0u, control->Release()) << "the test's references to the control";
            control = nullptr;
        }
        EXPECT_EQ(1, site.refs) << "the control kept a reference to its site";
        EXPECT_EQ(1, site.frame.refs) << "the control kept a reference to the frame";
        if (site.window) DestroyWindow(site.window);
        EXPECT_EQ(S_OK, TheModule().canUnloadNow()) << "objects or locks still alive";
        OleUninitialize();
    }

    template <typename T>
    T* Get(REFIID iid) {
        T* p = Query<T>(control, iid);
        EXPECT_NE(p, nullptr);
        return p;
    }

    void Embed() {
        ASSERT_EQ(S_OK, control->SetClientSite(&site));
        IPersistStreamInit* persist = Get<IPersistStreamInit>(IID_IPersistStreamInit);
        ASSERT_NE(persist, nullptr);
        EXPECT_EQ(S_OK, persist->InitNew());
        persist->Release();
    }
};

#define REQUIRE_WINDOW()                                                                 \
    if (!site.window) GTEST_SKIP() << "no window without a display (run under xvfb-run)"

// ---- identity, status and description ----

TEST_F(ContainerTest, AnswersEveryProtocolInterfaceWithOneIdentity) {
    IUnknown* identity = Get<IUnknown>(IID_IUnknown);
    ASSERT_NE(identity, nullptr);
    const IID* const wanted[] = {
        &IID_IDispatch, &kDiidScript, &IID_IOleObject, &IID_IOleControl, &IID_IOleWindow,
        &IID_IOleInPlaceObject, &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceActiveObject,
        &IID_IViewObject, &IID_IViewObject2, &IID_IPersist, &IID_IPersistStreamInit,
        &IID_IPersistPropertyBag, &IID_IPersistStorage, &IID_IProvideClassInfo,
        &IID_IProvideClassInfo2, &IID_IConnectionPointContainer, &IID_ISpecifyPropertyPages,
        &IID_IQuickActivate, &IID_IObjectSafety};
    for (const IID* iid : wanted) {
        IUnknown* p = nullptr;
        ASSERT_EQ(S_OK, control->QueryInterface(*iid, reinterpret_cast<void**>(&p)));
        IUnknown* back = Query<IUnknown>(p, IID_IUnknown);
        EXPECT_EQ(identity, back) << "IUnknown through another interface differs";
        // Each interface's QueryInterface reaches every other one.
        IOleObject* ole = Query<IOleObject>(p, IID_IOleObject);
        EXPECT_NE(ole, nullptr);
        if (ole) ole->Release();
        back->Release();
        p->Release();
    }
    // Interfaces the control does not have, the stream-only persistence's sibling among them.
    const IID* const unwanted[] = {&IID_IPersistStream, &IID_IDataObject, &IID_IViewObjectEx,
                                   &IID_IOleCache, &IID_IRunnableObject};
    for (const IID* iid : unwanted) {
        void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(kPoison));
        EXPECT_EQ(E_NOINTERFACE, control->QueryInterface(*iid, &p));
        EXPECT_EQ(nullptr, p);
    }
    identity->Release();
}

TEST_F(ContainerTest, DescribesItselfAsAnInvisibleInsideOutControl) {
    for (DWORD aspect : {DVASPECT_CONTENT, DVASPECT_THUMBNAIL, DVASPECT_ICON, DVASPECT_DOCPRINT}) {
        DWORD status = kPoison;
        EXPECT_EQ(S_OK, control->GetMiscStatus(aspect, &status));
        EXPECT_EQ(kMiscStatus, status) << "aspect " << aspect;
    }
    EXPECT_EQ(E_POINTER, control->GetMiscStatus(DVASPECT_CONTENT, nullptr));

    for (DWORD form : {USERCLASSTYPE_FULL, USERCLASSTYPE_SHORT, USERCLASSTYPE_APPNAME}) {
        LPOLESTR type = nullptr;
        ASSERT_EQ(S_OK, control->GetUserType(form, &type));
        EXPECT_STREQ(L"Tarnwick Control", type);
        CoTaskMemFree(type);
    }
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(S_OK, control->GetUserClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(kClsidControl, clsid));

    IPersist* persist = Get<IPersist>(IID_IPersist);
    clsid = GUID_NULL;
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(kClsidControl, clsid));
    persist->Release();

    // One verb on the container's menu: Properties.
    IEnumOLEVERB* verbs = nullptr;
    ASSERT_EQ(S_OK, control->EnumVerbs(&verbs));
    OLEVERB verb[2] = {};
    ULONG fetched = kPoison;
    EXPECT_EQ(S_FALSE, verbs->Next(2, verb, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(OLEIVERB_PROPERTIES, verb[0].lVerb);
    ASSERT_NE(verb[0].lpszVerbName, nullptr);
    EXPECT_NE(nullptr, wcsstr(verb[0].lpszVerbName, L"Properties"));
    EXPECT_TRUE(verb[0].grfAttribs & OLEVERBATTRIB_ONCONTAINERMENU);
    CoTaskMemFree(verb[0].lpszVerbName);
    EXPECT_EQ(S_OK, verbs->Reset());
    IEnumOLEVERB* clone = nullptr;
    ASSERT_EQ(S_OK, verbs->Clone(&clone));
    EXPECT_EQ(S_OK, clone->Next(1, verb, nullptr));
    EXPECT_EQ(OLEIVERB_PROPERTIES, verb[0].lVerb);
    CoTaskMemFree(verb[0].lpszVerbName);
    EXPECT_EQ(S_FALSE, clone->Skip(1));
    EXPECT_EQ(0u, clone->Release());
    EXPECT_EQ(0u, verbs->Release());

    // Things the control has no use for say so.
    IDataObject* data = reinterpret_cast<IDataObject*>(static_cast<uintptr_t>(kPoison));
    EXPECT_EQ(E_NOTIMPL, control->GetClipboardData(0, &data));
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(E_NOTIMPL, control->InitFromData(nullptr, TRUE, 0));
    IMoniker* moniker = reinterpret_cast<IMoniker*>(static_cast<uintptr_t>(kPoison));
    EXPECT_EQ(E_UNEXPECTED, control->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL,
                                                &moniker)) << "no site to ask";
    EXPECT_EQ(nullptr, moniker);
}

TEST_F(ContainerTest, ProvidesItsCoclassAndEventInterface) {
    IProvideClassInfo2* info = Get<IProvideClassInfo2>(IID_IProvideClassInfo2);
    ASSERT_NE(info, nullptr);
    ITypeInfo* type = nullptr;
    ASSERT_EQ(S_OK, info->GetClassInfo(&type));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, type->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    EXPECT_TRUE(IsEqualGUID(kClsidControl, attr->guid));
    EXPECT_EQ(2, attr->cImplTypes);
    type->ReleaseTypeAttr(attr);
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, type->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
    EXPECT_STREQ(L"Tarnwick", name);
    SysFreeString(name);
    // The default source of the coclass is the event interface GetGUID names.
    bool sourceFound = false;
    for (UINT i = 0; i < 2; ++i) {
        INT flags = 0;
        ASSERT_EQ(S_OK, type->GetImplTypeFlags(i, &flags));
        if (!(flags & IMPLTYPEFLAG_FSOURCE)) continue;
        HREFTYPE ref = 0;
        ITypeInfo* source = nullptr;
        ASSERT_EQ(S_OK, type->GetRefTypeOfImplType(i, &ref));
        ASSERT_EQ(S_OK, type->GetRefTypeInfo(ref, &source));
        TYPEATTR* sourceAttr = nullptr;
        ASSERT_EQ(S_OK, source->GetTypeAttr(&sourceAttr));
        EXPECT_TRUE(IsEqualGUID(kDiidEvents, sourceAttr->guid));
        EXPECT_EQ(TKIND_DISPATCH, sourceAttr->typekind);
        source->ReleaseTypeAttr(sourceAttr);
        source->Release();
        sourceFound = true;
    }
    EXPECT_TRUE(sourceFound);
    type->Release();

    GUID guid = GUID_NULL;
    EXPECT_EQ(S_OK, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid));
    EXPECT_TRUE(IsEqualGUID(kDiidEvents, guid));
    EXPECT_EQ(E_INVALIDARG, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &guid));
    EXPECT_EQ(E_POINTER, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr));
    EXPECT_EQ(E_POINTER, info->GetClassInfo(nullptr));
    info->Release();

    ISpecifyPropertyPages* pages = Get<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages);
    CAUUID list = {kPoison, nullptr};
    ASSERT_EQ(S_OK, pages->GetPages(&list));
    ASSERT_EQ(1u, list.cElems);
    EXPECT_TRUE(IsEqualGUID(kClsidPage, list.pElems[0]));
    CoTaskMemFree(list.pElems);
    pages->Release();
}

// ---- the event connection point ----

TEST_F(ContainerTest, EventConnectionPointKeepsSinksByCookie) {
    IConnectionPointContainer* container =
        Get<IConnectionPointContainer>(IID_IConnectionPointContainer);
    ASSERT_NE(container, nullptr);
    IConnectionPoint* point = reinterpret_cast<IConnectionPoint*>(static_cast<uintptr_t>(kPoison));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IPropertyNotifySink, &point));
    EXPECT_EQ(nullptr, point);
    ASSERT_EQ(S_OK, container->FindConnectionPoint(kDiidEvents, &point));

    IID iid = GUID_NULL;
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_TRUE(IsEqualIID(kDiidEvents, iid));
    IConnectionPointContainer* back = nullptr;
    ASSERT_EQ(S_OK, point->GetConnectionPointContainer(&back));
    EXPECT_EQ(container, back);
    back->Release();

    // Every connection point the container lists is this one.
    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(&points));
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, listed, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(point, listed[0]);
    listed[0]->Release();
    EXPECT_EQ(0u, points->Release());

    TestEventSink first, second, scriptSink, stranger;
    scriptSink.answers = TestEventSink::kDispatchOnly;
    stranger.answers = TestEventSink::kNothing;
    DWORD c1 = 0, c2 = 0, c3 = 0, c4 = kPoison;
    ASSERT_EQ(S_OK, point->Advise(&first, &c1));
    ASSERT_EQ(S_OK, point->Advise(&second, &c2));
    ASSERT_EQ(S_OK, point->Advise(&scriptSink, &c3));
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&stranger, &c4));
    EXPECT_EQ(0u, c4);
    EXPECT_NE(0u, c1);
    EXPECT_NE(c1, c2);
    EXPECT_NE(c2, c3);
    EXPECT_NE(c1, c3);
    EXPECT_GT(first.refs, 1) << "a connected sink is held";

    IEnumConnections* connections = nullptr;
    ASSERT_EQ(S_OK, point->EnumConnections(&connections));
    CONNECTDATA data[4] = {};
    fetched = 0;
    EXPECT_EQ(S_FALSE, connections->Next(4, data, &fetched));
    ASSERT_EQ(3u, fetched);
    std::map<DWORD, IUnknown*> byCookie;
    for (ULONG i = 0; i < fetched; ++i) {
        byCookie[data[i].dwCookie] = data[i].pUnk;
        data[i].pUnk->Release();
    }
    EXPECT_EQ(static_cast<IUnknown*>(&first), byCookie[c1]);
    EXPECT_EQ(static_cast<IUnknown*>(&second), byCookie[c2]);
    EXPECT_EQ(static_cast<IUnknown*>(&scriptSink), byCookie[c3]);
    EXPECT_EQ(0u, connections->Release());

    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(c1 + c2 + c3 + 100));
    EXPECT_EQ(S_OK, point->Unadvise(c2));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(c2)) << "a cookie works once";
    EXPECT_EQ(1, second.refs);
    DWORD c5 = 0;
    ASSERT_EQ(S_OK, point->Advise(&second, &c5));
    EXPECT_NE(c2, c5) << "a cookie is not handed out again";
    EXPECT_EQ(S_OK, point->Unadvise(c1));
    EXPECT_EQ(S_OK, point->Unadvise(c3));
    EXPECT_EQ(S_OK, point->Unadvise(c5));
    EXPECT_EQ(1, first.refs);
    EXPECT_EQ(1, second.refs);
    EXPECT_EQ(1, scriptSink.refs);
    EXPECT_EQ(1, stranger.refs);
    point->Release();
    container->Release();
}

TEST_F(ContainerTest, ReleasingTheControlReleasesConnectedSinks) {
    TestEventSink sink;
    {
        IConnectionPointContainer* container =
            Get<IConnectionPointContainer>(IID_IConnectionPointContainer);
        IConnectionPoint* point = nullptr;
        ASSERT_EQ(S_OK, container->FindConnectionPoint(kDiidEvents, &point));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
        point->Release();
        container->Release();
    }
    EXPECT_EQ(0u, control->Release());
    control = nullptr;
    EXPECT_EQ(1, sink.refs);
}

// ---- embedding: site, extent, advise sinks, close ----

TEST_F(ContainerTest, KeepsItsSiteExtentAndAdviseSinks) {
    IOleClientSite* got = reinterpret_cast<IOleClientSite*>(static_cast<uintptr_t>(kPoison));
    EXPECT_EQ(S_OK, control->GetClientSite(&got));
    EXPECT_EQ(nullptr, got);
    ASSERT_EQ(S_OK, control->SetClientSite(&site));
    EXPECT_EQ(S_OK, control->GetClientSite(&got));
    EXPECT_EQ(static_cast<IOleClientSite*>(&site), got);
    got->Release();

    // Extent in HIMETRIC: a non-empty default, then what the container sets, seen through both
    // the object and the view.
    SIZEL size = {-1, -1};
    ASSERT_EQ(S_OK, control->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_GT(size.cx, 0);
    EXPECT_GT(size.cy, 0);
    TestAdviseSink viewSink;
    IViewObject2* view = Get<IViewObject2>(IID_IViewObject2);
    ASSERT_EQ(S_OK, view->SetAdvise(DVASPECT_CONTENT, 0, &viewSink));
    SIZEL wanted = {1234, 567};
    EXPECT_EQ(S_OK, control->SetExtent(DVASPECT_CONTENT, &wanted));
    EXPECT_EQ(1, viewSink.viewChanges) << "a new size recomposes the view";
    size = {};
    EXPECT_EQ(S_OK, control->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_EQ(1234, size.cx);
    EXPECT_EQ(567, size.cy);
    size = {};
    EXPECT_EQ(S_OK, view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size));
    EXPECT_EQ(1234, size.cx);
    EXPECT_EQ(567, size.cy);
    EXPECT_EQ(DV_E_DVASPECT, control->SetExtent(DVASPECT_ICON, &wanted));
    EXPECT_EQ(DV_E_DVASPECT, control->GetExtent(DVASPECT_ICON, &size));

    DWORD aspects = 0, flags = kPoison;
    IAdviseSink* gotSink = nullptr;
    EXPECT_EQ(S_OK, view->GetAdvise(&aspects, &flags, &gotSink));
    EXPECT_EQ(static_cast<IAdviseSink*>(&viewSink), gotSink);
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), aspects);
    EXPECT_EQ(0u, flags);
    gotSink->Release();
    EXPECT_EQ(S_OK, view->SetAdvise(DVASPECT_CONTENT, 0, nullptr));
    EXPECT_EQ(1, viewSink.refs);
    view->Release();

    // Object advise sinks through the advise holder, told when the control closes.
    TestAdviseSink a, b;
    DWORD ca = 0, cb = 0;
    ASSERT_EQ(S_OK, control->Advise(&a, &ca));
    ASSERT_EQ(S_OK, control->Advise(&b, &cb));
    EXPECT_NE(ca, cb);
    IEnumSTATDATA* list = nullptr;
    ASSERT_EQ(S_OK, control->EnumAdvise(&list));
    STATDATA stat[3] = {};
    ULONG fetched = 0;
    list->Next(3, stat, &fetched);
    EXPECT_EQ(2u, fetched);
    for (ULONG i = 0; i < fetched; ++i) stat[i].pAdvSink->Release();
    list->Release();
    EXPECT_EQ(S_OK, control->Unadvise(cb));
    EXPECT_EQ(OLE_E_NOCONNECTION, control->Unadvise(cb));
    EXPECT_EQ(S_OK, control->Close(OLECLOSE_NOSAVE));
    EXPECT_EQ(1, a.closes);
    EXPECT_EQ(0, b.closes);
    EXPECT_EQ(0, site.saveObject) << "nothing to save";
    EXPECT_EQ(S_OK, control->Unadvise(ca));
    EXPECT_EQ(1, a.refs);
    EXPECT_EQ(1, b.refs);
    EXPECT_EQ(E_INVALIDARG, control->Close(42));
}

// ---- persistence ----

HGLOBAL StreamBytes(IStream* stream, std::vector<BYTE>* bytes) {
    HGLOBAL global = nullptr;
    GetHGlobalFromStream(stream, &global);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(global));
    bytes->assign(p, p + stat.cbSize.QuadPart);
    GlobalUnlock(global);
    return global;
}

IStream* StreamHolding(DWORD value, ULONG length = 4) {
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    stream->Write(&value, length, &written);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

TEST_F(ContainerTest, StreamHoldsTheVersionAndOlderVersionsLoad) {
    IPersistStreamInit* persist = Get<IPersistStreamInit>(IID_IPersistStreamInit);
    ASSERT_NE(persist, nullptr);
    ASSERT_EQ(S_OK, persist->InitNew());
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    ULARGE_INTEGER max = {};
    EXPECT_EQ(S_OK, persist->GetSizeMax(&max));
    EXPECT_EQ(4u, max.QuadPart);

    IStream* saved = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &saved));
    ASSERT_EQ(S_OK, persist->Save(saved, TRUE));
    std::vector<BYTE> bytes;
    StreamBytes(saved, &bytes);
    EXPECT_EQ((std::vector<BYTE>{0x00, 0x00, 0x01, 0x00}), bytes);

    // What was saved loads into a second control, which stays clean.
    IPersistStreamInit* other = nullptr;
    ASSERT_EQ(S_OK, CreateFromModule(kClsidControl, IID_IPersistStreamInit, &other));
    LARGE_INTEGER zero = {};
    saved->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(S_OK, other->Load(saved));
    EXPECT_EQ(S_FALSE, other->IsDirty());
    STATSTG stat = {};
    saved->Stat(&stat, STATFLAG_NONAME);
    ULARGE_INTEGER at = {};
    saved->Seek(zero, STREAM_SEEK_CUR, &at);
    EXPECT_EQ(4u, at.QuadPart) << "the load read exactly its four bytes";
    EXPECT_EQ(0u, other->Release());
    saved->Release();

    // An older form (and a newer one) loads, leaves the control dirty, and is written back as
    // the current version.
    for (DWORD version : {0x00000000u, 0x00000100u, 0x0000FFFFu, 0x00020000u, 0xFFFFFFFFu}) {
        IStream* old = StreamHolding(version);
        EXPECT_EQ(S_OK, persist->Load(old)) << std::hex << version;
        EXPECT_EQ(S_OK, persist->IsDirty()) << std::hex << version;
        old->Release();
        IStream* again = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &again);
        ASSERT_EQ(S_OK, persist->Save(again, FALSE));
        EXPECT_EQ(S_OK, persist->IsDirty()) << "Save without clearing keeps it dirty";
        StreamBytes(again, &bytes);
        EXPECT_EQ((std::vector<BYTE>{0x00, 0x00, 0x01, 0x00}), bytes);
        again->Release();
        CreateStreamOnHGlobal(nullptr, TRUE, &again);
        ASSERT_EQ(S_OK, persist->Save(again, TRUE));
        EXPECT_EQ(S_FALSE, persist->IsDirty());
        again->Release();
    }

    // A stream cut short is refused; InitNew brings a dirty control back to new.
    IStream* shortStream = StreamHolding(kVersion, 2);
    EXPECT_TRUE(FAILED(persist->Load(shortStream)));
    shortStream->Release();
    IStream* old = StreamHolding(0x100);
    ASSERT_EQ(S_OK, persist->Load(old));
    old->Release();
    EXPECT_EQ(S_OK, persist->IsDirty());
    EXPECT_EQ(S_OK, persist->InitNew());
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    EXPECT_EQ(E_POINTER, persist->Load(static_cast<IStream*>(nullptr)));
    persist->Release();
}

TEST_F(ContainerTest, PropertyBagHoldsTheVersionValue) {
    IPersistPropertyBag* persist = Get<IPersistPropertyBag>(IID_IPersistPropertyBag);
    ASSERT_NE(persist, nullptr);
    ASSERT_EQ(S_OK, persist->InitNew());

    TestPropertyBag bag;
    ASSERT_EQ(S_OK, persist->Save(&bag, TRUE, FALSE));
    ASSERT_EQ(1u, bag.values.size()) << "only the version is written";
    ASSERT_EQ(1u, bag.values.count(L"_Version"));
    EXPECT_EQ(VT_I4, bag.values[L"_Version"].vt);
    EXPECT_EQ(static_cast<LONG>(kVersion), bag.values[L"_Version"].lVal);

    IPersistPropertyBag* other = nullptr;
    ASSERT_EQ(S_OK, CreateFromModule(kClsidControl, IID_IPersistPropertyBag, &other));
    EXPECT_EQ(S_OK, other->Load(&bag, nullptr));
    IPersistStreamInit* otherStream = Query<IPersistStreamInit>(other, IID_IPersistStreamInit);
    ASSERT_NE(otherStream, nullptr);
    EXPECT_EQ(S_FALSE, otherStream->IsDirty());

    // Older versions, a missing one, and one written as text all load; the next save writes
    // the current version.
    TestPropertyBag older;
    older.SetI4(L"_Version", 0x00000100);
    EXPECT_EQ(S_OK, other->Load(&older, nullptr));
    EXPECT_EQ(S_OK, otherStream->IsDirty());
    TestPropertyBag empty;
    EXPECT_EQ(S_OK, other->Load(&empty, nullptr));
    TestPropertyBag text;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"65536");
    text.Write(L"_Version", &v);
    VariantClear(&v);
    EXPECT_EQ(S_OK, other->Load(&text, nullptr));
    EXPECT_EQ(S_FALSE, otherStream->IsDirty()) << "\"65536\" is the current version";
    TestPropertyBag rewritten;
    EXPECT_EQ(S_OK, other->Load(&older, nullptr));
    EXPECT_EQ(S_OK, other->Save(&rewritten, TRUE, TRUE));
    EXPECT_EQ(static_cast<LONG>(kVersion), rewritten.values[L"_Version"].lVal);
    EXPECT_EQ(S_FALSE, otherStream->IsDirty());
    otherStream->Release();
    EXPECT_EQ(0u, other->Release());
    persist->Release();
    EXPECT_EQ(1, bag.refs);
    EXPECT_EQ(1, older.refs);
}

TEST_F(ContainerTest, StorageHoldsTheVersionInItsContentsStream) {
    ILockBytes* bytes = nullptr;
    ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
    IStorage* storage = nullptr;
    ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(
                        bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage));
    IPersistStorage* persist = Get<IPersistStorage>(IID_IPersistStorage);
    ASSERT_NE(persist, nullptr);
    ASSERT_EQ(S_OK, persist->InitNew(storage));
    EXPECT_EQ(CO_E_ALREADYINITIALIZED, persist->InitNew(storage));
    ASSERT_EQ(S_OK, persist->Save(storage, TRUE));
    EXPECT_EQ(S_OK, persist->SaveCompleted(nullptr));
    EXPECT_EQ(S_OK, persist->HandsOffStorage());

    IStream* contents = nullptr;
    ASSERT_EQ(S_OK, storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                        0, &contents));
    DWORD version = 0;
    ULONG read = 0;
    EXPECT_EQ(S_OK, contents->Read(&version, sizeof(version), &read));
    EXPECT_EQ(4u, read);
    EXPECT_EQ(kVersion, version);
    STATSTG stat = {};
    contents->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(4u, stat.cbSize.QuadPart);
    contents->Release();

    IPersistStorage* other = nullptr;
    ASSERT_EQ(S_OK, CreateFromModule(kClsidControl, IID_IPersistStorage, &other));
    EXPECT_EQ(S_OK, other->Load(storage));
    EXPECT_EQ(S_FALSE, other->IsDirty());
    EXPECT_EQ(S_OK, other->HandsOffStorage());
    EXPECT_EQ(0u, other->Release());

    // A storage without the stream is not the control's.
    IStorage* bare = nullptr;
    ASSERT_EQ(S_OK, storage->CreateStorage(L"bare", STGM_CREATE | STGM_READWRITE |
                                                        STGM_SHARE_EXCLUSIVE, 0, 0, &bare));
    ASSERT_EQ(S_OK, CreateFromModule(kClsidControl, IID_IPersistStorage, &other));
    EXPECT_TRUE(FAILED(other->Load(bare)));
    EXPECT_EQ(0u, other->Release());
    bare->Release();

    persist->Release();
    EXPECT_EQ(0u, storage->Release());
    EXPECT_EQ(0u, bytes->Release());
}

// ---- activation ----

TEST_F(ContainerTest, ActivatesWindowlessInAWindowlessSite) {
    Embed();
    ASSERT_EQ(S_OK, control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window,
                                    &site.pos));
    EXPECT_EQ(1, site.canWindowless);
    EXPECT_EQ(1, site.activateEx);
    EXPECT_EQ(static_cast<DWORD>(ACTIVATE_WINDOWLESS), site.activateExFlags);
    EXPECT_EQ(0, site.activate);
    IOleInPlaceObjectWindowless* inPlace =
        Get<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless);
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(kPoison));
    EXPECT_EQ(E_FAIL, inPlace->GetWindow(&window));
    EXPECT_EQ(nullptr, window);
    LRESULT result = 77;
    EXPECT_EQ(S_FALSE, inPlace->OnWindowMessage(WM_LBUTTONDOWN, 0, 0, &result));

    // A second activation verb does not activate again; UI activation tells the frame.
    ASSERT_EQ(S_OK, control->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, site.window,
                                    &site.pos));
    EXPECT_EQ(1, site.activateEx);
    EXPECT_EQ(1, site.uiActivate);
    ASSERT_NE(site.frame.active, nullptr);
    IUnknown* activeIdentity = Query<IUnknown>(site.frame.active, IID_IUnknown);
    IUnknown* controlIdentity = Query<IUnknown>(control, IID_IUnknown);
    EXPECT_EQ(controlIdentity, activeIdentity);
    activeIdentity->Release();
    controlIdentity->Release();

    EXPECT_EQ(S_OK, inPlace->InPlaceDeactivate());
    EXPECT_EQ(1, site.uiDeactivate);
    EXPECT_EQ(nullptr, site.frame.active) << "the frame's active object is cleared";
    EXPECT_EQ(1, site.deactivateEx);
    EXPECT_EQ(0, site.deactivate);
    EXPECT_EQ(S_OK, inPlace->InPlaceDeactivate()) << "deactivating twice is harmless";
    EXPECT_EQ(1, site.deactivateEx);
    inPlace->Release();
}

TEST_F(ContainerTest, ActivatesWithAHiddenChildWindowInAWindowedSite) {
    REQUIRE_WINDOW();
    site.offerWindowless = false;
    Embed();
    ASSERT_EQ(S_OK, control->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, site.window, &site.pos));
    EXPECT_EQ(1, site.activate);
    EXPECT_EQ(0, site.activateEx);
    EXPECT_EQ(1, site.showObject);
    IOleInPlaceObject* inPlace = Get<IOleInPlaceObject>(IID_IOleInPlaceObject);
    HWND window = nullptr;
    ASSERT_EQ(S_OK, inPlace->GetWindow(&window));
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(site.window, GetParent(window));
    EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) << "invisible at run time";
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, site.window, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(site.pos.left, rect.left);
    EXPECT_EQ(site.pos.top, rect.top);
    EXPECT_EQ(site.pos.right, rect.right);
    EXPECT_EQ(site.pos.bottom, rect.bottom);

    RECT moved = {5, 6, 55, 46};
    EXPECT_EQ(S_OK, inPlace->SetObjectRects(&moved, &moved));
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, site.window, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(5, rect.left);
    EXPECT_EQ(46, rect.bottom);

    EXPECT_EQ(S_OK, control->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, site.window, &site.pos));
    EXPECT_EQ(S_OK, control->Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_FALSE(IsWindow(window)) << "closing deactivates and destroys the window";
    EXPECT_EQ(1, site.deactivate);
    EXPECT_EQ(0, site.saveObject) << "a clean control is not saved";
    inPlace->Release();
}

TEST_F(ContainerTest, VerbsOutsideActivationAnswerAsOleSays) {
    // Without a site there is nothing to activate in.
    EXPECT_EQ(E_UNEXPECTED, control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0,
                                            nullptr, nullptr));
    site.allowInPlace = false;
    Embed();
    EXPECT_EQ(OLE_E_NOT_INPLACEACTIVE,
              control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, &site.pos));
    site.allowInPlace = true;
    EXPECT_EQ(E_NOTIMPL, control->DoVerb(OLEIVERB_OPEN, nullptr, &site, 0, site.window, &site.pos));
    EXPECT_EQ(E_NOTIMPL, control->DoVerb(-100, nullptr, &site, 0, site.window, &site.pos));
    // An unknown positive verb does the primary verb (activation) and says it was unknown.
    EXPECT_EQ(OLEOBJ_S_INVALIDVERB,
              control->DoVerb(7, nullptr, &site, 0, site.window, &site.pos));
    EXPECT_EQ(1, site.activateEx);

    // A dirty control is saved through its site when it closes.
    IPersistStreamInit* persist = Get<IPersistStreamInit>(IID_IPersistStreamInit);
    IStream* old = StreamHolding(0x100);
    ASSERT_EQ(S_OK, persist->Load(old));
    old->Release();
    persist->Release();
    EXPECT_EQ(S_OK, control->Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_EQ(1, site.saveObject);
    EXPECT_EQ(1, site.deactivateEx);
}

TEST_F(ContainerTest, QuickActivationTakesSiteSinksAndReportsStatus) {
    IQuickActivate* quick = Get<IQuickActivate>(IID_IQuickActivate);
    ASSERT_NE(quick, nullptr);
    TestEventSink events;
    TestAdviseSink view;
    QACONTAINER qc = {};
    qc.cbSize = sizeof(qc);
    qc.pClientSite = &site;
    qc.pAdviseSink = &view;
    qc.pUnkEventSink = &events;
    QACONTROL qctl = {};
    qctl.cbSize = sizeof(qctl);
    qctl.dwEventCookie = kPoison;
    ASSERT_EQ(S_OK, quick->QuickActivate(&qc, &qctl));
    EXPECT_EQ(kMiscStatus, qctl.dwMiscStatus);
    EXPECT_NE(0u, qctl.dwEventCookie);
    EXPECT_NE(kPoison, qctl.dwEventCookie);
    IOleClientSite* got = nullptr;
    EXPECT_EQ(S_OK, control->GetClientSite(&got));
    EXPECT_EQ(static_cast<IOleClientSite*>(&site), got);
    if (got) got->Release();

    SIZEL size = {2000, 1000};
    EXPECT_EQ(S_OK, quick->SetContentExtent(&size));
    EXPECT_EQ(1, view.viewChanges) << "the view sink came with quick activation";
    SIZEL back = {};
    EXPECT_EQ(S_OK, quick->GetContentExtent(&back));
    EXPECT_EQ(2000, back.cx);

    // The cookie is a real connection of the event point.
    IConnectionPointContainer* container =
        Get<IConnectionPointContainer>(IID_IConnectionPointContainer);
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(kDiidEvents, &point));
    EXPECT_EQ(S_OK, point->Unadvise(qctl.dwEventCookie));
    EXPECT_EQ(1, events.refs);
    point->Release();
    container->Release();

    IViewObject* viewObject = Get<IViewObject>(IID_IViewObject);
    viewObject->SetAdvise(DVASPECT_CONTENT, 0, nullptr);
    viewObject->Release();
    EXPECT_EQ(1, view.refs);

    QACONTROL small = {};
    small.cbSize = 4;
    EXPECT_EQ(E_INVALIDARG, quick->QuickActivate(&qc, &small));
    quick->Release();
}

// ---- drawing ----

class Canvas {
public:
    static constexpr int kWidth = 160, kHeight = 100;
    static constexpr DWORD kSentinel = 0x00123456;
    HDC dc = nullptr;
    DWORD* bits = nullptr;

    Canvas() {
        dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* p = nullptr;
        bitmap_ = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<DWORD*>(p);
        old_ = SelectObject(dc, bitmap_);
        for (int i = 0; i < kWidth * kHeight; ++i) bits[i] = kSentinel;
    }
    ~Canvas() {
        SelectObject(dc, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc);
    }
    DWORD At(int x, int y) const {
        GdiFlush();
        return bits[y * kWidth + x] & 0x00FFFFFF;
    }
    // Pixels outside the rectangle that are not the sentinel.
    int ChangedOutside(const RECT& r) const {
        GdiFlush();
        int n = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if ((x < r.left || x >= r.right || y < r.top || y >= r.bottom) &&
                    (bits[y * kWidth + x] & 0x00FFFFFF) != kSentinel)
                    ++n;
        return n;
    }
    // Whether a pixel of the colour lies within two pixels of (x, y) along the given axis.
    bool NearHorizontally(int x, int y, DWORD colour) const {
        for (int dx = -2; dx <= 2; ++dx)
            if (At(x + dx, y) == colour) return true;
        return false;
    }
    bool NearVertically(int x, int y, DWORD colour) const {
        for (int dy = -2; dy <= 2; ++dy)
            if (At(x, y + dy) == colour) return true;
        return false;
    }

private:
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

constexpr DWORD kWhite = 0xFFFFFF, kBlack = 0x000000;

TEST_F(ContainerTest, DrawsAWhiteFaceWithAnEllipseInsideTheBounds) {
    IViewObject2* view = Get<IViewObject2>(IID_IViewObject2);
    ASSERT_NE(view, nullptr);
    const RECT r = {10, 12, 130, 82};
    const RECTL bounds = {r.left, r.top, r.right, r.bottom};
    const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    {
        // The memory DC's own pen and brush: black outline, white inside.
        Canvas canvas;
        ASSERT_NE(canvas.bits, nullptr);
        ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc,
                                   &bounds, nullptr, nullptr, 0));
        EXPECT_EQ(0, canvas.ChangedOutside(r)) << "painted outside the bounds";
        // The corners of the bounds lie outside the ellipse: the white fill.
        EXPECT_EQ(kWhite, canvas.At(r.left, r.top));
        EXPECT_EQ(kWhite, canvas.At(r.right - 1, r.top));
        EXPECT_EQ(kWhite, canvas.At(r.left, r.bottom - 1));
        EXPECT_EQ(kWhite, canvas.At(r.right - 1, r.bottom - 1));
        EXPECT_EQ(kWhite, canvas.At(r.left + 3, r.top + 3));
        // The outline touches the middle of each edge.
        EXPECT_TRUE(canvas.NearHorizontally(cx, r.top, kBlack));
        EXPECT_TRUE(canvas.NearHorizontally(cx, r.bottom - 1, kBlack));
        EXPECT_TRUE(canvas.NearVertically(r.left, cy, kBlack));
        EXPECT_TRUE(canvas.NearVertically(r.right - 1, cy, kBlack));
        EXPECT_EQ(kWhite, canvas.At(cx, cy));
        // The outline is a line, not a filled shape.
        EXPECT_EQ(kWhite, canvas.At(cx, r.top + 5));
    }
    {
        // The DC's current brush fills the ellipse; a wide pen still stays inside the bounds.
        Canvas canvas;
        HPEN pen = CreatePen(PS_SOLID, 9, RGB(0, 0, 255));
        HGDIOBJ oldPen = SelectObject(canvas.dc, pen);
        HGDIOBJ oldBrush = SelectObject(canvas.dc, GetStockObject(BLACK_BRUSH));
        ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc,
                                   &bounds, nullptr, nullptr, 0));
        EXPECT_EQ(0, canvas.ChangedOutside(r)) << "a wide pen painted outside the bounds";
        EXPECT_EQ(kBlack, canvas.At(cx, cy)) << "the DC's brush fills the ellipse";
        EXPECT_EQ(kWhite, canvas.At(r.left, r.top));
        EXPECT_EQ(0x0000FF, canvas.At(cx, r.top)) << "the DC's pen draws the outline";
        // The DC is given back as it came.
        EXPECT_EQ(pen, GetCurrentObject(canvas.dc, OBJ_PEN));
        SelectObject(canvas.dc, oldBrush);
        SelectObject(canvas.dc, oldPen);
        DeleteObject(pen);
    }
    {
        Canvas canvas;
        EXPECT_EQ(DV_E_DVASPECT, view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr,
                                            canvas.dc, &bounds, nullptr, nullptr, 0));
        EXPECT_EQ(E_INVALIDARG, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr,
                                           canvas.dc, nullptr, nullptr, nullptr, 0))
            << "no bounds and not active windowless";
        EXPECT_EQ(0, canvas.ChangedOutside({0, 0, 0, 0})) << "a refused draw paints nothing";
    }
    view->Release();
}

TEST_F(ContainerTest, WindowlessDrawWithoutBoundsUsesThePositionRectangle) {
    Embed();
    site.pos = {40, 20, 100, 60};
    ASSERT_EQ(S_OK, control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window,
                                    &site.pos));
    IViewObject* view = Get<IViewObject>(IID_IViewObject);
    Canvas canvas;
    ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc,
                               nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(0, canvas.ChangedOutside(site.pos));
    EXPECT_EQ(kWhite, canvas.At(40, 20));
    EXPECT_TRUE(canvas.NearHorizontally(70, 20, kBlack));
    view->Release();
    IOleInPlaceObject* inPlace = Get<IOleInPlaceObject>(IID_IOleInPlaceObject);
    EXPECT_EQ(S_OK, inPlace->InPlaceDeactivate());
    inPlace->Release();
}

// ---- the property page ----

TEST_F(ContainerTest, PropertyPageDescribesAndHostsItsDialog) {
    REQUIRE_WINDOW();
    IPropertyPage* page = nullptr;
    ASSERT_EQ(S_OK, CreateFromModule(kClsidPage, IID_IPropertyPage, &page));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(S_FALSE, TheModule().canUnloadNow()) << "a live page keeps the module";

    PROPPAGEINFO info = {};
    info.cb = sizeof(info);
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    ASSERT_NE(info.pszTitle, nullptr);
    EXPECT_STREQ(L"General", info.pszTitle);
    // The template is 250 x 62 dialog units: wider than high, and more pixels than units.
    EXPECT_GT(info.size.cx, info.size.cy);
    EXPECT_GT(info.size.cy, 0);
    EXPECT_GE(info.size.cx, 250);
    EXPECT_LT(info.size.cx, 2000);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);

    // The page holds the objects it is given until it is given none.
    ULONG before = RefCount(control);
    IUnknown* objects[1] = {control};
    EXPECT_EQ(S_OK, page->SetObjects(1, objects));
    EXPECT_EQ(before + 1, RefCount(control));
    EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
    EXPECT_EQ(before, RefCount(control));
    EXPECT_EQ(S_OK, page->SetObjects(1, objects));

    // Activation puts the dialog, from the module's own resources, into the parent.
    EXPECT_EQ(E_UNEXPECTED, page->Show(SW_SHOW)) << "nothing to show before activation";
    RECT rect = {5, 5, 5 + info.size.cx, 5 + info.size.cy};
    ASSERT_EQ(S_OK, page->Activate(site.window, &rect, TRUE));
    HWND dialog = GetWindow(site.window, GW_CHILD);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(TheModule().handle),
              reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE)));
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_STYLE) & WS_CHILD);
    EXPECT_EQ(S_OK, page->Show(SW_SHOW));
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_STYLE) & WS_VISIBLE);
    RECT moved = {10, 20, 110, 90};
    EXPECT_EQ(S_OK, page->Move(&moved));
    RECT now = {};
    GetWindowRect(dialog, &now);
    MapWindowPoints(nullptr, site.window, reinterpret_cast<POINT*>(&now), 2);
    EXPECT_EQ(10, now.left);
    EXPECT_EQ(90, now.bottom);
    EXPECT_EQ(S_FALSE, page->IsPageDirty());
    EXPECT_EQ(S_OK, page->Apply());
    MSG msg = {};
    msg.hwnd = site.window;
    msg.message = WM_NULL;
    EXPECT_EQ(S_FALSE, page->TranslateAccelerator(&msg)) << "not a message of the page";
    EXPECT_EQ(S_OK, page->Deactivate());
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(nullptr, GetWindow(site.window, GW_CHILD));

    EXPECT_EQ(0u, page->Release());
    EXPECT_EQ(before, RefCount(control)) << "the page let go of its objects";
}

// The Properties verb: a container that shows its own frame is asked first.
TEST_F(ContainerTest, PropertiesVerbAsksTheContainersFrameFirst) {
    site.showPropertyFrame = S_OK;
    Embed();
    EXPECT_EQ(S_OK, control->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, site.window,
                                    &site.pos));
    EXPECT_EQ(1, site.propertyFrame);
}

// Otherwise the system's modal frame comes up over the control's page. A watcher thread waits for
// it as a user would (a dialog window titled with the control's name), checks the page inside it,
// and closes it. A frame that never comes fails the case: past the deadline the watcher closes
// whatever the test's thread shows, so that the verb returns instead of hanging the suite.
struct FrameWatch {
    DWORD thread = 0;            // the test's thread, whose windows are watched
    HMODULE module = nullptr;
    bool sawFrame = false;
    bool sawPage = false;
    std::wstring title;
    HWND frame = nullptr;
};
constexpr DWORD kFrameDeadlineMs = 20000;

BOOL CALLBACK FindPageChild(HWND child, LPARAM param) {
    auto* watch = reinterpret_cast<FrameWatch*>(param);
    if (reinterpret_cast<HMODULE>(GetWindowLongPtrW(child, GWLP_HINSTANCE)) == watch->module) {
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        if (wcscmp(cls, L"#32770") == 0) watch->sawPage = true;
    }
    return TRUE;
}

BOOL CALLBACK FindFrame(HWND window, LPARAM param) {
    auto* watch = reinterpret_cast<FrameWatch*>(param);
    if (GetWindowThreadProcessId(window, nullptr) != watch->thread || !IsWindowVisible(window))
        return TRUE;
    wchar_t title[128] = {}, cls[32] = {};
    GetWindowTextW(window, title, 128);
    GetClassNameW(window, cls, 32);
    if (wcscmp(cls, L"#32770") != 0 || !wcsstr(title, L"Tarnwick Control")) return TRUE;
    watch->sawFrame = true;
    watch->title = title;
    watch->frame = window;
    EnumChildWindows(window, FindPageChild, param);
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return FALSE;
}

BOOL CALLBACK CloseThreadWindow(HWND window, LPARAM) {
    if (IsWindowVisible(window)) {
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

DWORD WINAPI WatchForFrame(void* param) {
    auto* watch = static_cast<FrameWatch*>(param);
    const DWORD start = GetTickCount();
    while (!watch->sawFrame && GetTickCount() - start < kFrameDeadlineMs) {
        EnumWindows(FindFrame, reinterpret_cast<LPARAM>(watch));
        if (!watch->sawFrame) Sleep(10);
    }
    if (!watch->sawFrame) EnumThreadWindows(watch->thread, CloseThreadWindow, 0);
    return 0;
}

TEST_F(ContainerTest, PropertiesVerbShowsTheModalFrameOverThePage) {
    REQUIRE_WINDOW();
    site.showPropertyFrame = E_NOTIMPL;
    Embed();
    FrameWatch watch;
    watch.thread = GetCurrentThreadId();
    watch.module = TheModule().handle;
    HANDLE watcher = CreateThread(nullptr, 0, WatchForFrame, &watch, 0, nullptr);
    ASSERT_NE(watcher, nullptr);
    HRESULT hr = control->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, site.window, &site.pos);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watcher, kFrameDeadlineMs + 5000));
    CloseHandle(watcher);
    EXPECT_FALSE(watch.frame && IsWindow(watch.frame)) << "the frame is gone when the verb returns";
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(1, site.propertyFrame) << "the container was asked first";
    EXPECT_TRUE(watch.sawFrame) << "no visible frame titled with the control's name";
    EXPECT_TRUE(watch.sawPage) << "frame '" << std::string(watch.title.begin(), watch.title.end())
                               << "' holds no dialog of the control module";
    // Pages the frame made are gone once it closes.
    CoFreeUnusedLibraries();
}

// ---- registration: the same object through the registry ----

TEST_F(ContainerTest, RegisteredClassCreatesTheSameControlThroughCoCreateInstance) {
    IOleObject* registered = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidControl, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                     reinterpret_cast<void**>(&registered)))
        << "is the control registered (ctest's register fixture)?";
    DWORD status = 0;
    EXPECT_EQ(S_OK, registered->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(kMiscStatus, status);
    EXPECT_EQ(S_FALSE, TheModule().canUnloadNow()) << "the same module serves both";
    EXPECT_EQ(0u, registered->Release());
}

}  // namespace container_test
