#include "sitelist.h"

namespace sites {
namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool ParseAddress(const std::string& url, Address& address) {
    address = Address{};
    const std::string text = Trimmed(url);
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    address.scheme = Lower(text.substr(0, colon));
    if (text.compare(colon + 1, 2, "//") != 0) return true;  // no authority (file:C:/..., about:blank)
    const size_t start = colon + 3;
    const size_t end = text.find_first_of("/\\?#", start);
    std::string authority = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    if (!authority.empty() && authority[0] == '[') {  // an IPv6 literal keeps its colons
        const size_t close = authority.find(']');
        authority = authority.substr(0, close == std::string::npos ? std::string::npos : close + 1);
    } else {
        authority = authority.substr(0, authority.find(':'));
    }
    while (!authority.empty() && authority.back() == '.') authority.pop_back();
    address.host = Lower(authority);
    return true;
}

bool Matches(const std::string& entry, const Address& address) {
    std::string pattern = Lower(Trimmed(entry));
    if (pattern.empty()) return false;
    const size_t scheme = pattern.find("://");
    if (scheme != std::string::npos) {
        if (pattern.substr(0, scheme) != address.scheme) return false;
        pattern = pattern.substr(scheme + 3);
    }
    while (!pattern.empty() && (pattern.back() == '/' || pattern.back() == '.')) pattern.pop_back();
    if (address.host.empty() || pattern.empty()) return false;
    if (pattern.compare(0, 2, "*.") == 0) {
        const std::string domain = pattern.substr(2);
        return !domain.empty() && (address.host == domain || EndsWith(address.host, "." + domain));
    }
    return address.host == pattern;
}

bool Allowed(const std::vector<std::string>& entries, const std::string& url) {
    if (Trimmed(url).empty()) return true;
    Address address;
    if (!ParseAddress(url, address)) return false;
    if (address.scheme == "file") return true;
    for (const std::string& entry : entries)
        if (Matches(entry, address)) return true;
    return false;
}

std::string SiteOf(const std::string& url) {
    Address address;
    if (ParseAddress(url, address) && !address.host.empty()) return address.host;
    return url;
}

bool IsNetworkPath(const std::string& path) {
    if (path.size() < 2) return false;
    const bool slash0 = path[0] == '\\' || path[0] == '/';
    const bool slash1 = path[1] == '\\' || path[1] == '/';
    if (!slash0 || !slash1) return false;
    // \\?\ and \\.\ name local things unless they go on with UNC\.
    if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && (path[3] == '\\' || path[3] == '/'))
        return Lower(path.substr(4, 4)) == "unc\\" || Lower(path.substr(4, 4)) == "unc/";
    return true;
}

}  // namespace sites
