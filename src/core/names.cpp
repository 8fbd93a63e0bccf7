#include "names.h"

namespace names {
namespace {
char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
}  // namespace

bool IsReservedDeviceName(const std::u16string& component) {
    std::u16string stem = component.substr(0, component.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.pop_back();
    for (char16_t& c : stem) c = AsciiUpper(c);
    static const char16_t* const kPlain[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$", u"CLOCK$"};
    for (const char16_t* name : kPlain)
        if (stem == name) return true;
    if (stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0)) {
        const char16_t digit = stem[3];
        return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
               digit == u'\u00B3';
    }
    return false;
}

bool IsPlainName(const std::u16string& name) {
    if (name.empty()) return false;
    for (char16_t ch : name) {
        if (ch < 32) return false;
        for (const char* bad = "<>:\"/\\|?*"; *bad; ++bad)
            if (ch == static_cast<char16_t>(*bad)) return false;
    }
    if (name.find(u"..") != std::u16string::npos) return false;
    if (name.back() == u'.' || name.back() == u' ') return false;
    return !IsReservedDeviceName(name);
}

}  // namespace names
