// Who may script the control: a host sites it with a fake browser whose location is the page's
// address, under the administrator's policy in HKLM\SOFTWARE\Policies\Tarnwick, and checks what
// the page gets. The fakes are written against the interfaces' C layouts, so only the methods
// the control calls need bodies.
#define CINTERFACE
#define COBJMACROS
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <exdisp.h>
#include <objsafe.h>
#include <ocidl.h>
#include <servprov.h>
#include <string>
#include <vector>
#include "unit_support.h"

namespace {

const CLSID kControlClass = {0x75614F24, 0x3276, 0x4CE9, {0xA2, 0xC8, 0x72, 0xA8, 0x11, 0x12, 0x9F, 0xDF}};

// ---- a browser that knows only its location ----

struct FakeBrowser {
    IWebBrowser2 iface;
    std::wstring url;
};

HRESULT STDMETHODCALLTYPE BrowserQueryInterface(IWebBrowser2* self, REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IWebBrowser) ||
        IsEqualIID(riid, IID_IWebBrowserApp) || IsEqualIID(riid, IID_IWebBrowser2)) {
        *ppv = self;
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE BrowserAddRef(IWebBrowser2*) { return 2; }
ULONG STDMETHODCALLTYPE BrowserRelease(IWebBrowser2*) { return 1; }
HRESULT STDMETHODCALLTYPE BrowserLocation(IWebBrowser2* self, BSTR* url) {
    *url = SysAllocString(reinterpret_cast<FakeBrowser*>(self)->url.c_str());
    return S_OK;
}

// ---- the container's site: a client site that offers the browser as a service ----

struct FakeSite {
    IOleClientSite client;
    IServiceProvider services;
    FakeBrowser* browser = nullptr;
};

FakeSite* SiteOf(IOleClientSite* client) { return reinterpret_cast<FakeSite*>(client); }
FakeSite* SiteOf(IServiceProvider* services) {
    return reinterpret_cast<FakeSite*>(reinterpret_cast<char*>(services) - offsetof(FakeSite, services));
}

HRESULT STDMETHODCALLTYPE ClientQueryInterface(IOleClientSite* self, REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
        *ppv = self;
        return S_OK;
    }
    if (IsEqualIID(riid, IID_IServiceProvider)) {
        *ppv = &SiteOf(self)->services;
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE ClientAddRef(IOleClientSite*) { return 2; }
ULONG STDMETHODCALLTYPE ClientRelease(IOleClientSite*) { return 1; }
HRESULT STDMETHODCALLTYPE ClientNotImplemented(IOleClientSite*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ClientGetMoniker(IOleClientSite*, DWORD, DWORD, IMoniker** moniker) {
    *moniker = nullptr;
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE ClientGetContainer(IOleClientSite*, IOleContainer** container) {
    *container = nullptr;
    return E_NOINTERFACE;
}
HRESULT STDMETHODCALLTYPE ClientOnShowWindow(IOleClientSite*, BOOL) { return S_OK; }

HRESULT STDMETHODCALLTYPE ServicesQueryInterface(IServiceProvider* self, REFIID riid, void** ppv) {
    return ClientQueryInterface(&SiteOf(self)->client, riid, ppv);
}
ULONG STDMETHODCALLTYPE ServicesAddRef(IServiceProvider*) { return 2; }
ULONG STDMETHODCALLTYPE ServicesRelease(IServiceProvider*) { return 1; }
HRESULT STDMETHODCALLTYPE ServicesQueryService(IServiceProvider* self, REFGUID service, REFIID riid, void** ppv) {
    FakeBrowser* browser = SiteOf(self)->browser;
    if (browser && IsEqualGUID(service, IID_IWebBrowserApp)) return BrowserQueryInterface(&browser->iface, riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

IWebBrowser2Vtbl g_browserVtbl;
IOleClientSiteVtbl g_clientVtbl;
IServiceProviderVtbl g_servicesVtbl;

void MakeFakes(FakeSite& site, FakeBrowser& browser, const wchar_t* url) {
    g_browserVtbl = IWebBrowser2Vtbl{};  // calls the control never makes stay null
    g_browserVtbl.QueryInterface = BrowserQueryInterface;
    g_browserVtbl.AddRef = BrowserAddRef;
    g_browserVtbl.Release = BrowserRelease;
    g_browserVtbl.get_LocationURL = BrowserLocation;
    g_clientVtbl = {ClientQueryInterface, ClientAddRef, ClientRelease, ClientNotImplemented,
                    ClientGetMoniker, ClientGetContainer, ClientNotImplemented, ClientOnShowWindow,
                    ClientNotImplemented};
    g_servicesVtbl = {ServicesQueryInterface, ServicesAddRef, ServicesRelease, ServicesQueryService};
    browser.iface.lpVtbl = &g_browserVtbl;
    browser.url = url;
    site.client.lpVtbl = &g_clientVtbl;
    site.services.lpVtbl = &g_servicesVtbl;
    site.browser = &browser;
}

// ---- the policy and the zones ----

const wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Tarnwick";
const wchar_t kIntranetDomain[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\intranet.example";

void SetPolicy(const std::vector<std::wstring>& sites, int networkPaths) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPolicyKey);
    if (sites.empty() && networkPaths < 0) return;
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    if (!sites.empty()) {
        std::wstring multi;
        for (const std::wstring& site : sites) multi += site + L'\0';
        multi += L'\0';
        RegSetValueExW(key, L"Sites", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi.data()),
                       static_cast<DWORD>(multi.size() * sizeof(wchar_t)));
    }
    if (networkPaths >= 0) {
        DWORD value = static_cast<DWORD>(networkPaths);
        RegSetValueExW(key, L"NetworkPaths", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }
    RegCloseKey(key);
}

class SiteLock : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        module_ = LoadLibraryA((testsupport::ExeDirectory() + "tarnwick.OCX").c_str());
        ASSERT_NE(nullptr, module_);
        // The page's own domain is in the Local intranet zone, as a company's would be.
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kIntranetDomain, 0, nullptr, 0, KEY_WRITE,
                                                 nullptr, &key, nullptr));
        DWORD intranet = 1;
        RegSetValueExW(key, L"http", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&intranet), sizeof(intranet));
        RegCloseKey(key);
    }
    void TearDown() override {
        SetPolicy({}, -1);
        RegDeleteKeyW(HKEY_CURRENT_USER, kIntranetDomain);
        CoUninitialize();
    }

    // A control sited on a page at url (null: never sited, as in a script host).
    IDispatch* Control(const wchar_t* url) {
        using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        auto get = reinterpret_cast<GetClassObject>(GetProcAddress(module_, "DllGetClassObject"));
        IClassFactory* factory = nullptr;
        if (FAILED(get(kControlClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
        IDispatch* control = nullptr;
        IClassFactory_CreateInstance(factory, nullptr, IID_IDispatch, reinterpret_cast<void**>(&control));
        IClassFactory_Release(factory);
        if (control && url) {
            MakeFakes(site_, browser_, url);
            IOleObject* ole = nullptr;
            IDispatch_QueryInterface(control, IID_IOleObject, reinterpret_cast<void**>(&ole));
            IOleObject_SetClientSite(ole, &site_.client);
            IOleObject_Release(ole);
        }
        return control;
    }

    static std::wstring Call(IDispatch* control, DISPID id, const std::wstring& path) {
        VARIANT arg;
        V_VT(&arg) = VT_BSTR;
        V_BSTR(&arg) = SysAllocString(path.c_str());
        DISPPARAMS params = {&arg, nullptr, static_cast<UINT>(id == 7 ? 0 : 1), 0};
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr = IDispatch_Invoke(control, id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                            &params, &result, nullptr, nullptr);
        VariantClear(&arg);
        // A call that fails is neither an allowed page's answer nor a refused page's.
        if (FAILED(hr)) return L"call failed: " + std::to_wstring(static_cast<unsigned long>(hr));
        std::wstring text = V_VT(&result) == VT_BSTR ? V_BSTR(&result) : std::to_wstring(V_I4(&result));
        VariantClear(&result);
        return text;
    }

    static std::wstring SizeOf(const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return L"no such file";
        return std::to_wstring(data.nFileSizeLow);
    }

    static HRESULT MakeSafe(IDispatch* control) {
        IObjectSafety* safety = nullptr;
        IDispatch_QueryInterface(control, IID_IObjectSafety, reinterpret_cast<void**>(&safety));
        HRESULT hr = IObjectSafety_SetInterfaceSafetyOptions(safety, IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                                             INTERFACESAFE_FOR_UNTRUSTED_CALLER);
        IObjectSafety_Release(safety);
        return hr;
    }

    HMODULE module_ = nullptr;
    FakeSite site_;
    FakeBrowser browser_;
};

TEST_F(SiteLock, TheSiteListDecidesWhichPagesMayScript) {
    const std::wstring file = L"C:\\windows\\win.ini";
    const std::vector<std::wstring> listed = {L"intranet.example", L"*.example.gov.cn"};
    struct Case {
        std::vector<std::wstring> sites;
        const wchar_t* url;
        const wchar_t* refusedSite;  // null: allowed
    } cases[] = {
        {{}, L"https://anywhere.example/page", nullptr},  // no policy: as before
        {listed, L"http://intranet.example/app/x.html", nullptr},
        {listed, L"https://a.b.example.gov.cn:8443/", nullptr},
        {listed, L"https://example.gov.cn/", nullptr},
        {listed, L"https://user@INTRANET.example./", nullptr},
        {listed, L"file:///C:/pages/local.html", nullptr},
        {listed, L"https://evil.example/", L"evil.example"},
        {listed, L"https://intranet.example.evil.example/", L"intranet.example.evil.example"},
        {{L"https://secure.example"}, L"http://secure.example/", L"secure.example"},
        {{L"https://secure.example"}, L"https://secure.example/", nullptr},
    };
    for (const Case& k : cases) {
        SetPolicy(k.sites, -1);
        IDispatch* control = Control(k.url);
        ASSERT_NE(nullptr, control);
        EXPECT_EQ(k.refusedSite ? E_FAIL : S_OK, MakeSafe(control)) << k.url;
        const std::wstring size = Call(control, 1, file);
        if (!k.refusedSite) {
            EXPECT_EQ(SizeOf(file), size) << k.url;
        } else {
            EXPECT_EQ(L"-1", size) << k.url;
            EXPECT_EQ(L"", Call(control, 5, file)) << "every method gives its failure value";
            EXPECT_EQ(std::wstring(L"本页面所在站点[") + k.refusedSite +
                          L"]不在管理员允许使用本控件的站点列表中,拒绝调用!",
                      Call(control, 7, L""))
                << k.url;
        }
        IDispatch_Release(control);
    }
    // A control no page sited (a script host, a macro) is never refused. Sites are taken through
    // IObjectWithSite too, which is offered under a policy only.
    SetPolicy({L"intranet.example"}, -1);
    IDispatch* local = Control(nullptr);
    IObjectWithSite* withSite = nullptr;
    EXPECT_EQ(S_OK, IDispatch_QueryInterface(local, IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)));
    if (withSite) IObjectWithSite_Release(withSite);
    EXPECT_EQ(S_OK, MakeSafe(local));
    EXPECT_EQ(SizeOf(file), Call(local, 1, file));
    IDispatch_Release(local);
}

TEST_F(SiteLock, NetworkPathsAreKeptFromPagesOutsideTheIntranet) {
    const std::wstring unc = L"\\\\nohost.invalid\\share\\x.txt";
    const std::wstring refusedPrefix = L"来自站点[";
    struct Case {
        int networkPaths;
        const wchar_t* url;  // null: never sited
        const wchar_t* path;
        bool refused;
    } cases[] = {
        {-1, L"https://anywhere.example/", unc.c_str(), true},
        {-1, L"https://anywhere.example/", L"\\\\?\\UNC\\nohost.invalid\\share\\x.txt", true},
        {-1, L"https://anywhere.example/", L"//nohost.invalid/share/x.txt", true},
        {-1, L"http://intranet.example/", unc.c_str(), false},
        {-1, nullptr, unc.c_str(), false},
        {0, L"http://intranet.example/", unc.c_str(), true},
        {1, L"https://anywhere.example/", unc.c_str(), false},
    };
    for (const Case& k : cases) {
        SetPolicy({}, k.networkPaths);
        IDispatch* control = Control(k.url);
        ASSERT_NE(nullptr, control);
        EXPECT_EQ(L"-1", Call(control, 1, k.path));
        const std::wstring text = Call(control, 7, L"");
        EXPECT_EQ(k.refused, text.find(refusedPrefix) == 0)
            << (k.url ? k.url : L"(no site)") << " " << k.path << ": " << text.size();
        IDispatch_Release(control);
    }
}

}  // namespace
