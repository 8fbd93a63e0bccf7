// Who may script the control: the hosting page's address, found through the site, checked
// against the administrator's policy.
#include "TarnwickCtrl.h"
#include "framework/Strings.h"
#include "CodePage.h"
#include "Owners.h"
#include "framework/Render.h"
#include <algorithm>
#include "Messages.h"
#include "policy/SitePolicy.h"
#include "sitelist.h"
#include <exdisp.h>

namespace {

using tarnwick::ComPtr;

std::wstring TakeBstr(BSTR text) {
    std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return out;
}

// The page's address: the browser's location through the site's service provider, else the
// display name of the container's moniker. Empty when neither tells.
std::wstring PageUrlOf(IUnknown* site) {
    ComPtr<IServiceProvider> services;
    if (SUCCEEDED(site->QueryInterface(IID_IServiceProvider, services.put_void())) && services) {
        ComPtr<IWebBrowser2> browser;
        if (SUCCEEDED(services->QueryService(IID_IWebBrowserApp, IID_IWebBrowser2, browser.put_void())) &&
            browser) {
            BSTR url = nullptr;
            if (SUCCEEDED(browser->get_LocationURL(&url))) {
                std::wstring text = TakeBstr(url);
                if (!text.empty()) return text;
            }
        }
    }
    ComPtr<IOleClientSite> client;
    if (SUCCEEDED(site->QueryInterface(IID_IOleClientSite, client.put_void())) && client) {
        ComPtr<IMoniker> moniker;
        if (SUCCEEDED(client->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, moniker.put())) &&
            moniker) {
            ComPtr<IBindCtx> bind;
            LPOLESTR name = nullptr;
            if (SUCCEEDED(CreateBindCtx(0, bind.put())) &&
                SUCCEEDED(moniker->GetDisplayName(bind.get(), nullptr, &name)) && name) {
                std::wstring text = name;
                CoTaskMemFree(name);
                return text;
            }
        }
    }
    return std::wstring();
}

// The page's site as the page's message names it.
std::wstring SiteName(const std::wstring& url) {
    if (url.empty()) return L"?";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, url.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, url.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.resize(strlen(utf8.c_str()));
    return tarnwick::ToWide(CP_UTF8, sites::SiteOf(utf8));
}

}  // namespace

void CTarnwickCtrl::SiteChanged(IUnknown* site) {
    if (!site) return;  // letting go of a site leaves the page as it was
    m_bSited = true;
    m_strPageUrl = PageUrlOf(site);
}

bool CTarnwickCtrl::MayScript() { return tarnwick::policy::MayScript(m_bSited, m_strPageUrl); }

void CTarnwickCtrl::RefuseSite() { m_strLastError = tarnwick::Render(msg::kSiteRefused, {SiteName(m_strPageUrl)}); }

bool CTarnwickCtrl::MayUseNetworkPath(const std::wstring& path) {
    // The start of a path decides, and it is plain ASCII when the path leaves the machine.
    if (!sites::IsNetworkPath(std::string(path.begin(), path.begin() + std::min<size_t>(path.size(), 8)))) return true;
    if (tarnwick::policy::MayUseNetworkPaths(m_bSited, m_strPageUrl)) return true;
    m_strLastError = tarnwick::Render(msg::kNetworkPathRefused, {SiteName(m_strPageUrl), path});
    return false;
}
