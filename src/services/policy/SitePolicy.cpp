#include "policy/SitePolicy.h"
#include "CodePage.h"
#include "Owners.h"
#include "sitelist.h"
#include <urlmon.h>

namespace tarnwick::policy {
namespace {

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Tarnwick";

std::string Utf8(const std::wstring& wide) { return FromWide(CP_UTF8, wide); }

}  // namespace

Policy ReadPolicy() {
    Policy policy;
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return policy;
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key.get(), L"Sites", nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
        (type == REG_MULTI_SZ || type == REG_SZ)) {
        policy.listed = true;
        std::wstring data(bytes / sizeof(wchar_t) + 2, L'\0');
        if (RegQueryValueExW(key.get(), L"Sites", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &bytes) ==
            ERROR_SUCCESS) {
            // One entry per string (a plain string may also hold several, one per line).
            size_t start = 0;
            for (size_t i = 0; i <= data.size(); ++i) {
                if (i == data.size() || data[i] == L'\0' || data[i] == L'\n' || data[i] == L'\r') {
                    if (i > start) policy.sites.push_back(Utf8(data.substr(start, i - start)));
                    start = i + 1;
                }
            }
        }
    }
    DWORD value = 0;
    bytes = sizeof(value);
    if (RegQueryValueExW(key.get(), L"NetworkPaths", nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
        policy.networkPaths = value != 0 ? 1 : 0;
    return policy;
}

bool PolicyPresent() {
    const Policy policy = ReadPolicy();
    return policy.listed || policy.networkPaths >= 0;
}

DWORD ZoneOf(const std::wstring& url) {
    ComPtr<IInternetSecurityManager> manager;
    DWORD zone = URLZONE_INTERNET;
    if (SUCCEEDED(CoInternetCreateSecurityManager(nullptr, manager.put(), 0)) &&
        FAILED(manager->MapUrlToZone(url.c_str(), &zone, 0)))
        zone = URLZONE_INTERNET;
    return zone;
}

bool MayScript(bool sited, const std::wstring& url) {
    if (!sited) return true;
    const Policy policy = ReadPolicy();
    if (!policy.listed) return true;
    return !url.empty() && sites::Allowed(policy.sites, Utf8(url));
}

bool MayUseNetworkPaths(bool sited, const std::wstring& url) {
    if (!sited) return true;
    const Policy policy = ReadPolicy();
    if (policy.networkPaths >= 0) return policy.networkPaths == 1;
    if (url.empty()) return false;
    const DWORD zone = ZoneOf(url);
    return zone == URLZONE_LOCAL_MACHINE || zone == URLZONE_INTRANET || zone == URLZONE_TRUSTED;
}

}  // namespace tarnwick::policy
