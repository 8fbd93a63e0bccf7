// The administrator's word on who may script the control, read from the machine policy
// HKLM\SOFTWARE\Policies\Tarnwick (a user cannot widen it):
//   Sites         REG_MULTI_SZ  the sites whose pages may use the control; no value: every site
//   NetworkPaths  REG_DWORD     0: no page may name a network path; 1: every page may;
//                               no value: pages from the Local intranet and Trusted sites zones may
// and the zone of a page's address as the system's security manager maps it.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace tarnwick::policy {

struct Policy {
    bool listed = false;             // a Sites value exists
    std::vector<std::string> sites;  // its entries, UTF-8
    int networkPaths = -1;           // -1: no value (the zone rule), 0 or 1
};

Policy ReadPolicy();
// True when the machine policy says anything at all (a Sites or a NetworkPaths value).
bool PolicyPresent();

// The page's security zone (URLZONE_*); the Internet zone when it cannot be told.
DWORD ZoneOf(const std::wstring& url);

// What the page at url may do. sited is false for a caller with no page (a script host, a
// macro), which may do everything. A sited page whose address cannot be found counts as an
// unknown site.
bool MayScript(bool sited, const std::wstring& url);
bool MayUseNetworkPaths(bool sited, const std::wstring& url);

}  // namespace tarnwick::policy
