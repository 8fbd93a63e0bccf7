// The module at its edge, loaded as a container loads it: exports, registration, class
// factories, script safety, unload counting; and the dispatch table against the type library.
#include <gtest/gtest.h>
#include <windows.h>
#include <comcat.h>
#include <objsafe.h>
#include <olectl.h>
#include <string>
#include "CodePage.h"
#include "DispatchTable.h"
#include "Guids.h"
#include "Messages.h"
#include "Registration.h"
#include "framework/Render.h"
#include "resource.h"
#include "unit_support.h"

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using SimpleFn = HRESULT(WINAPI*)();

struct Module {
    HMODULE handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    SimpleFn canUnload = nullptr, reg = nullptr, unreg = nullptr;
    std::string path;
    Module() {
        path = testsupport::ExeDirectory() + "tarnwick.OCX";
        handle = LoadLibraryA(path.c_str());
        if (!handle) return;
        getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(handle, "DllGetClassObject"));
        canUnload = reinterpret_cast<SimpleFn>(GetProcAddress(handle, "DllCanUnloadNow"));
        reg = reinterpret_cast<SimpleFn>(GetProcAddress(handle, "DllRegisterServer"));
        unreg = reinterpret_cast<SimpleFn>(GetProcAddress(handle, "DllUnregisterServer"));
    }
    ~Module() { if (handle) FreeLibrary(handle); }
};

std::string ReadValue(HKEY root, const std::string& key, const char* name = nullptr) {
    char data[2048] = {};
    DWORD size = sizeof(data) - 1, type = 0;
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<missing>";
    LONG status = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    return status == ERROR_SUCCESS ? std::string(data) : "<no value>";
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

class ModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitialize(nullptr); }
    Module module;
    std::string clsid = "CLSID\\" + ClassIdKeyName(CLSID_Tarnwick);
    std::string stats = "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\" +
                        ClassIdKeyName(CLSID_Tarnwick) + "\\iexplore\\AllowedDomains\\*";
};

TEST_F(ModuleTest, AnsiCodePageOfThePrefixIs936) { EXPECT_EQ(936u, GetACP()); }

TEST_F(ModuleTest, ExportsTheFourEntryPoints) {
    ASSERT_NE(nullptr, module.handle);
    EXPECT_NE(nullptr, module.getClassObject);
    EXPECT_NE(nullptr, module.canUnload);
    EXPECT_NE(nullptr, module.reg);
    EXPECT_NE(nullptr, module.unreg);
}

TEST_F(ModuleTest, RegistrationWritesTheWholeImageAndIsRepeatable) {
    ASSERT_NE(nullptr, module.reg);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats");
    ASSERT_EQ(S_OK, module.reg());
    ASSERT_EQ(S_OK, module.reg());

    EXPECT_EQ("Tarnwick Control", ReadValue(HKEY_CLASSES_ROOT, clsid));
    EXPECT_EQ(module.path, ReadValue(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32"));
    EXPECT_EQ("Apartment", ReadValue(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ("TARNWICK.TarnwickCtrl.1", ReadValue(HKEY_CLASSES_ROOT, clsid + "\\ProgID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsid + "\\Control"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsid + "\\Insertable"));
    EXPECT_EQ(module.path + ", 1", ReadValue(HKEY_CLASSES_ROOT, clsid + "\\ToolboxBitmap32"));
    EXPECT_EQ(std::to_string(0x20491), ReadValue(HKEY_CLASSES_ROOT, clsid + "\\MiscStatus\\1"));
    EXPECT_EQ(ClassIdKeyName(LIBID_TARNWICKLib), ReadValue(HKEY_CLASSES_ROOT, clsid + "\\TypeLib"));
    EXPECT_EQ("1.0", ReadValue(HKEY_CLASSES_ROOT, clsid + "\\Version"));
    EXPECT_EQ(ClassIdKeyName(CLSID_Tarnwick),
              ReadValue(HKEY_CLASSES_ROOT, "TARNWICK.TarnwickCtrl.1\\CLSID"));

    std::string page = "CLSID\\" + ClassIdKeyName(CLSID_TarnwickPropPage);
    EXPECT_EQ("Tarnwick Property Page", ReadValue(HKEY_CLASSES_ROOT, page));
    EXPECT_EQ(module.path, ReadValue(HKEY_CLASSES_ROOT, page + "\\InprocServer32"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TARNWICK.TarnwickPropPage.1"));

    for (const CATID& cat : {CATID_SafeForScripting, CATID_SafeForInitializing}) {
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsid + "\\Implemented Categories\\" + ClassIdKeyName(cat)));
    }
    EXPECT_EQ("Controls safely scriptable!",
              ReadValue(HKEY_CLASSES_ROOT, "Component Categories\\" + ClassIdKeyName(CATID_SafeForScripting), "409"));
    EXPECT_EQ("Controls safely initializable from persistent data!",
              ReadValue(HKEY_CLASSES_ROOT, "Component Categories\\" + ClassIdKeyName(CATID_SafeForInitializing), "409"));

    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, stats)) << "the Stats key is created when missing";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, stats));

    ITypeLib* library = nullptr;
    EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_TARNWICKLib, 1, 0, 0x409, &library));
    if (library) library->Release();
}

TEST_F(ModuleTest, UnregistrationLeavesCategoriesAndSiteAllowance) {
    ASSERT_EQ(S_OK, module.reg());
    ASSERT_EQ(S_OK, module.unreg());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TARNWICK.TarnwickCtrl.1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + ClassIdKeyName(CLSID_TarnwickPropPage)));
    ITypeLib* library = nullptr;
    EXPECT_NE(S_OK, LoadRegTypeLib(LIBID_TARNWICKLib, 1, 0, 0x409, &library));
    if (library) library->Release();
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsid + "\\Implemented Categories\\" + ClassIdKeyName(CATID_SafeForScripting)));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsid + "\\Implemented Categories\\" + ClassIdKeyName(CATID_SafeForInitializing)));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Component Categories\\" + ClassIdKeyName(CATID_SafeForScripting)));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, stats));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, stats));
    EXPECT_EQ(S_OK, module.reg()) << "registered again for the suites that follow";
}

TEST_F(ModuleTest, CategoryDescriptionIsCutTo127Characters) {
    const CATID cat = {0x5a1b2c3d, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::wstring longText(200, L'x');
    longText[126] = L'y';
    longText[127] = L'z';
    ASSERT_EQ(S_OK, CreateComponentCategory(cat, longText.c_str()));
    std::string stored = ReadValue(HKEY_CLASSES_ROOT, "Component Categories\\" + ClassIdKeyName(cat), "409");
    EXPECT_EQ(127u, stored.size());
    EXPECT_EQ('y', stored.back());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ("Component Categories\\" + ClassIdKeyName(cat)).c_str());
}

TEST_F(ModuleTest, ObjectSafetyAnswers) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, module.getClassObject(CLSID_Tarnwick, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    IObjectSafety* safety = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IObjectSafety, reinterpret_cast<void**>(&safety)));
    factory->Release();

    DWORD supported = 0xDEAD, enabled = 0xBEEF;
    EXPECT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(3u, supported);
    EXPECT_EQ(3u, enabled);
    supported = 0xDEAD, enabled = 0xBEEF;
    EXPECT_EQ(E_NOINTERFACE, safety->GetInterfaceSafetyOptions(IID_IPersistFile, &supported, &enabled));
    EXPECT_EQ(3u, supported) << "written even for an interface the control lacks";
    EXPECT_EQ(3u, enabled);

    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0)) << "cannot turn an option off";
    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4));
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 0, 0));
    EXPECT_EQ(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_IPersistFile, 3, 3));
    EXPECT_EQ(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_IPersistFile, 4, 0));

    IDispatch* dispatch = nullptr;
    EXPECT_EQ(S_OK, safety->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))
        << "the nested interface shares the control's identity";
    if (dispatch) dispatch->Release();
    EXPECT_EQ(0u, safety->Release());
}

TEST_F(ModuleTest, UnloadQueryCountsObjectsAndLocks) {
    ASSERT_EQ(S_OK, module.canUnload());
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, module.getClassObject(CLSID_Tarnwick, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    IUnknown* control = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&control)));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory->Release();
    EXPECT_EQ(S_FALSE, module.canUnload()) << "an object and a lock are alive";
    control->Release();
    EXPECT_EQ(S_FALSE, module.canUnload()) << "the lock is still held";
    ASSERT_EQ(S_OK, module.getClassObject(CLSID_Tarnwick, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory->Release();
    EXPECT_EQ(S_OK, module.canUnload());

    IClassFactory* none = reinterpret_cast<IClassFactory*>(0x1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, module.getClassObject(IID_IDispatch, IID_IClassFactory, reinterpret_cast<void**>(&none)));
    EXPECT_EQ(nullptr, none);
    ASSERT_EQ(S_OK, module.getClassObject(CLSID_TarnwickPropPage, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                                            reinterpret_cast<void**>(&control)))
        << "the property page is never aggregated";
    factory->Release();
}

// An object that aggregates the control: it answers IUnknown itself and hands every other
// interface to the control's inner unknown, keeping one reference count for both.
class Aggregator : public IUnknown {
public:
    LONG refs = 1;
    IUnknown* inner = nullptr;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
};

TEST_F(ModuleTest, AggregatedControlDelegatesIdentityAndReferencesToItsOuterObject) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, module.getClassObject(CLSID_Tarnwick, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    Aggregator outer;
    void* refused = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IDispatch, &refused))
        << "an outer object may only ask for the inner unknown";
    EXPECT_EQ(nullptr, refused);
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    factory->Release();
    ASSERT_NE(nullptr, outer.inner);
    EXPECT_NE(static_cast<IUnknown*>(&outer), outer.inner);
    EXPECT_EQ(1, outer.refs) << "creating the inner object takes no reference on the outer one";

    IDispatch* script = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&script)));
    IObjectSafety* safety = nullptr;
    ASSERT_EQ(S_OK, script->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)));
    IOleObject* ole = nullptr;
    ASSERT_EQ(S_OK, safety->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)));
    EXPECT_EQ(4, outer.refs) << "every interface counts on the outer object";
    for (IUnknown* p : {static_cast<IUnknown*>(script), static_cast<IUnknown*>(safety), static_cast<IUnknown*>(ole)}) {
        IUnknown* identity = nullptr;
        ASSERT_EQ(S_OK, p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity) << "the identity is the outer object's";
        identity->Release();
    }
    // The aggregated control works: a method call through the outer object's IDispatch.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(S_OK, script->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr));
    EXPECT_EQ(VT_BSTR, V_VT(&result));
    VariantClear(&result);
    ole->Release();
    safety->Release();
    script->Release();
    EXPECT_EQ(1, outer.refs);

    EXPECT_EQ(S_FALSE, module.canUnload()) << "the inner object is alive";
    EXPECT_EQ(0u, outer.inner->Release()) << "releasing the inner unknown ends the control";
    EXPECT_EQ(S_OK, module.canUnload());
}

// The table the dispatch layer answers from and the type library describe the same interface.
TEST_F(ModuleTest, DispatchTableAgreesWithTheTypeLibrary) {
    std::wstring path(module.path.begin(), module.path.end());
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));
    ITypeInfo* info = nullptr;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(DIID__DTarnwick, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    size_t count = 0;
    const tarnwick::MethodEntry* table = tarnwick::MethodTable(&count);
    ASSERT_EQ(13u, count);
    ASSERT_EQ(count, static_cast<size_t>(attr->cFuncs));
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(i, &func));
        const tarnwick::MethodEntry* entry = tarnwick::FindMethod(func->memid);
        ASSERT_NE(nullptr, entry) << "dispatch id " << func->memid;
        BSTR names[4] = {};
        UINT got = 0;
        info->GetNames(func->memid, names, 4, &got);
        EXPECT_STREQ(entry->name, names[0]);
        ASSERT_EQ(entry->paramCount, static_cast<unsigned>(func->cParams)) << func->memid;
        EXPECT_EQ(entry->result, func->elemdescFunc.tdesc.vt) << func->memid;
        for (unsigned p = 0; p < entry->paramCount; ++p) {
            EXPECT_EQ(entry->params[p], func->lprgelemdescParam[p].tdesc.vt == VT_PTR
                                            ? VT_DISPATCH : func->lprgelemdescParam[p].tdesc.vt);
            EXPECT_STREQ(entry->paramNames[p], names[p + 1]);
        }
        for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
        info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(attr);
    info->Release();
    library->Release();
}

// The texts reach the page as the same characters on any desktop: each is code page 936 text
// (what the page's own code page can show), pinned here by its code page 936 bytes; the module's
// string table holds the same; and rendering takes no code page, so an argument outside both 936
// and 1252 keeps every character.
TEST(MessageCatalogue, TextsAreTheSameCharactersOnA936And1252Desktop) {
    for (const wchar_t* text : msg::kAllTexts) {
        std::string narrow;
        bool lossy = true;
        ASSERT_TRUE(tarnwick::FromWide(936, text, narrow, &lossy)) << testing::PrintToString(std::wstring(text));
        EXPECT_FALSE(lossy) << "not code page 936 text: " << testing::PrintToString(std::wstring(text));
    }
    // "文件[%s]读失败(%lld<>%lld)，%s" and "文件路径为空" as code page 936 bytes.
    EXPECT_EQ(tarnwick::ToWide(936, "\xCE\xC4\xBC\xFE[%s]\xB6\xC1\xCA\xA7\xB0\xDC(%lld<>%lld)\xA3\xAC%s"),
              msg::kReadFailed);
    EXPECT_EQ(tarnwick::ToWide(936, "\xCE\xC4\xBC\xFE\xC2\xB7\xBE\xB6\xCE\xAA\xBF\xD5"), msg::kPathEmpty);

    Module module;
    ASSERT_NE(nullptr, module.handle);
    for (const auto& [id, text] : {std::pair{IDS_PATH_EMPTY, msg::kPathEmpty}, {IDS_FILE_NOT_FOUND, msg::kFileNotFound}}) {
        wchar_t loaded[256] = {};
        ASSERT_GT(LoadStringW(module.handle, id, loaded, 255), 0) << id;
        EXPECT_EQ(std::wstring(text), loaded) << id;
    }

    const std::wstring path = L"C:\\\u0e01\u00e9\U0001F600\u4e2d.txt";  // Thai, Latin, an emoji, Chinese
    EXPECT_EQ(L"[" + path + L"]\u4e0d\u662f\u78c1\u76d8\u6587\u4ef6(\u8bbe\u5907\u3001\u7ba1\u9053\u6216"
                            L"\u63a7\u5236\u53f0),\u62d2\u7edd\u8bfb\u53d6!",
              tarnwick::Render(msg::kNotADiskFile, {path}));
    EXPECT_EQ(L"\u6587\u4ef6[" + path + L"]\u8bfb\u5931\u8d25(5<>6)\uff0cwhy",
              tarnwick::Render(msg::kReadFailed, {path, L"5", L"6", L"why"}));
}

}  // namespace
