#include "Registration.h"
#include "Guids.h"
#include "OleControl.h"
#include "framework/ModuleState.h"
#include "framework/Strings.h"
#include "CodePage.h"
#include "Owners.h"
#include "resource.h"
#include <objsafe.h>
#include <olectl.h>
#include <cwchar>

using tarnwick::Format;

namespace {

constexpr char kStatsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats";

std::string ModulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(tarnwick::ModuleInstance(), path, MAX_PATH - 1);
    return path;
}

// Sets the named (or, with a null name, the default) text value of HKCR\<key>.
bool SetClassesValue(const std::string& key, const char* name, const std::string& value) {
    tarnwick::UniqueKey handle;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, handle.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(handle.get(), name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool RegisterControlClass() {
    std::string path = ModulePath();
    std::string clsid = "CLSID\\" + ClassIdKeyName(CLSID_Tarnwick);
    std::string typeName = tarnwick::FromWide(CP_ACP, tarnwick::LoadModuleString(IDS_TARNWICK).c_str());
    std::string libid = ClassIdKeyName(LIBID_TARNWICKLib);
    return SetClassesValue(clsid, nullptr, typeName) &&
           SetClassesValue(clsid + "\\InprocServer32", nullptr, path) &&
           SetClassesValue(clsid + "\\InprocServer32", "ThreadingModel", "Apartment") &&
           SetClassesValue(clsid + "\\ProgID", nullptr, kControlProgId) &&
           SetClassesValue(clsid + "\\Control", nullptr, "") &&
           SetClassesValue(clsid + "\\ToolboxBitmap32", nullptr, Format("%s, %d", path.c_str(), IDB_TARNWICK)) &&
           SetClassesValue(clsid + "\\MiscStatus", nullptr, "0") &&
           SetClassesValue(clsid + "\\MiscStatus\\1", nullptr, Format("%lu", tarnwick::kControlMiscStatus)) &&
           SetClassesValue(clsid + "\\TypeLib", nullptr, libid) &&
           SetClassesValue(clsid + "\\Version", nullptr, "1.0") &&
           SetClassesValue(kControlProgId, nullptr, typeName) &&
           SetClassesValue(std::string(kControlProgId) + "\\CLSID", nullptr,
                           ClassIdKeyName(CLSID_Tarnwick));
}

bool RegisterPropertyPageClass() {
    std::string clsid = "CLSID\\" + ClassIdKeyName(CLSID_TarnwickPropPage);
    return SetClassesValue(clsid, nullptr, tarnwick::FromWide(CP_ACP, tarnwick::LoadModuleString(IDS_TARNWICK_PPG).c_str())) &&
           SetClassesValue(clsid + "\\InprocServer32", nullptr, ModulePath()) &&
           SetClassesValue(clsid + "\\InprocServer32", "ThreadingModel", "Apartment");
}

LONG DeleteTree(HKEY root, const std::string& key) {
    return RegDeleteTreeA(root, key.c_str());
}

// Removes what class registration wrote. The class key itself goes only when nothing else is
// left in it: its category memberships stay.
bool UnregisterClass(REFCLSID clsidValue, const char* progId) {
    std::string clsid = "CLSID\\" + ClassIdKeyName(clsidValue);
    static const char* const kSubkeys[] = {"InprocServer32", "ProgID", "Control", "ToolboxBitmap32",
                                           "MiscStatus", "TypeLib", "Version"};
    for (const char* sub : kSubkeys) DeleteTree(HKEY_CLASSES_ROOT, clsid + "\\" + sub);
    {
        tarnwick::UniqueKey handle;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, clsid.c_str(), 0, KEY_ALL_ACCESS, handle.put()) ==
            ERROR_SUCCESS) {
            RegDeleteValueA(handle.get(), nullptr);
            DWORD subkeys = 0;
            if (RegQueryInfoKeyA(handle.get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS &&
                subkeys == 0) {
                handle.reset();
                RegDeleteKeyA(HKEY_CLASSES_ROOT, clsid.c_str());
            }
        }
    }
    if (progId) DeleteTree(HKEY_CLASSES_ROOT, progId);
    return true;
}

}  // namespace

std::string ClassIdKeyName(REFCLSID id) {
    return Format("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.Data1, id.Data2,
                  id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4],
                  id.Data4[5], id.Data4[6], id.Data4[7]);
}

HRESULT CreateComponentCategory(REFCATID catid, const wchar_t* description) {
    tarnwick::ComPtr<ICatRegister> manager;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatRegister, manager.put_void());
    if (FAILED(hr)) return hr;
    CATEGORYINFO info = {};
    info.catid = catid;
    info.lcid = 0x409;
    size_t length = wcslen(description);
    if (length > 127) length = 127;
    wcsncpy(info.szDescription, description, length);
    info.szDescription[length] = L'\0';
    return manager->RegisterCategories(1, &info);
}

HRESULT RegisterClassInCategory(REFCLSID clsid, REFCATID catid) {
    tarnwick::ComPtr<ICatRegister> manager;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatRegister, manager.put_void());
    if (FAILED(hr)) return hr;
    CATID ids[1] = {catid};
    return manager->RegisterClassImplCategories(clsid, 1, ids);
}

void AllowControlOnAllSites(HKEY hive) {
    tarnwick::UniqueKey stats;
    LONG status = RegOpenKeyExA(hive, kStatsKey, 0, KEY_ALL_ACCESS, stats.put());
    if (status == ERROR_FILE_NOT_FOUND) {
        status = RegCreateKeyExA(hive, kStatsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, 0x2001F,
                                 nullptr, stats.put(), nullptr);
    }
    if (status != ERROR_SUCCESS) return;
    tarnwick::UniqueKey control, browser, domains, any;
    RegCreateKeyA(stats.get(), ClassIdKeyName(CLSID_Tarnwick).c_str(), control.put());
    RegCreateKeyA(control.get(), "iexplore", browser.put());
    RegCreateKeyA(browser.get(), "AllowedDomains", domains.put());
    RegCreateKeyA(domains.get(), "*", any.put());
}

HRESULT RegisterServer() {
    std::wstring path = tarnwick::ToWide(CP_ACP, ModulePath());
    tarnwick::ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, library.put())))
        return SELFREG_E_TYPELIB;
    if (!RegisterControlClass() || !RegisterPropertyPageClass()) return SELFREG_E_CLASS;

    HRESULT hr = CreateComponentCategory(CATID_SafeForInitializing,
                                         L"Controls safely initializable from persistent data!");
    if (FAILED(hr)) return hr;
    hr = RegisterClassInCategory(CLSID_Tarnwick, CATID_SafeForInitializing);
    if (FAILED(hr)) return hr;
    hr = CreateComponentCategory(CATID_SafeForScripting, L"Controls safely scriptable!");
    if (FAILED(hr)) return hr;
    hr = RegisterClassInCategory(CLSID_Tarnwick, CATID_SafeForScripting);
    if (FAILED(hr)) return hr;

    AllowControlOnAllSites(HKEY_CURRENT_USER);
    AllowControlOnAllSites(HKEY_LOCAL_MACHINE);
    return S_OK;
}

HRESULT UnregisterServer() {
    // The library is registered under its own locale, 0x409, and its own system kind (widl
    // makes a SYS_WIN64 library for the 64-bit module); that is where it is removed from.
#ifdef _WIN64
    constexpr SYSKIND kLibrarySystem = SYS_WIN64;
#else
    constexpr SYSKIND kLibrarySystem = SYS_WIN32;
#endif
    if (FAILED(UnRegisterTypeLib(LIBID_TARNWICKLib, 1, 0, 0x409, kLibrarySystem))) return SELFREG_E_TYPELIB;
    if (!UnregisterClass(CLSID_Tarnwick, kControlProgId) ||
        !UnregisterClass(CLSID_TarnwickPropPage, nullptr))
        return SELFREG_E_CLASS;
    return S_OK;
}
