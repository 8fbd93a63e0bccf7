// Who may script the control: the page's address against an administrator's list of sites, and
// what counts as a network path. Addresses and entries are UTF-8 (host names are compared
// without regard to ASCII case).
//
// An entry is a host name ("intranet.example"), a host with a leading wildcard ("*.example.gov.cn",
// which takes that domain and every name below it), either optionally with a scheme
// ("https://intranet.example"). Pages from file: addresses and callers with no page at all are
// always allowed.
#pragma once

#include <string>
#include <vector>

namespace sites {

struct Address {
    std::string scheme;  // lower case, without ':'
    std::string host;    // lower case, without user, port or trailing dot
};

// Splits scheme://[user@]host[:port][/...]; false for anything without a scheme.
bool ParseAddress(const std::string& url, Address& address);

// True when one entry of the list names the address's site.
bool Matches(const std::string& entry, const Address& address);

// True when a page at url may use the control under the list (an empty url: no page).
bool Allowed(const std::vector<std::string>& entries, const std::string& url);

// The host part of url for a message (the url itself when it has none).
std::string SiteOf(const std::string& url);

// A path that leaves this machine: \\host\share\..., //host/..., \\?\UNC\... (and \\.\UNC\...).
bool IsNetworkPath(const std::string& path);

}  // namespace sites
