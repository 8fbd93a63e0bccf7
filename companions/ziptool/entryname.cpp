#include "entryname.h"

#include <array>

namespace zipcore {
namespace {

bool isSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

bool isForbiddenCharacter(char16_t c) {
    if (c < 0x20) return true;
    for (char16_t bad : u"<>:\"|?*")
        if (bad != 0 && c == bad) return true;
    return false;
}

char16_t asciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Windows treats these as devices in every directory, whatever extension follows.
bool isReservedDeviceName(const std::u16string& component) {
    std::u16string stem = component.substr(0, component.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.pop_back();
    for (char16_t& c : stem) c = asciiUpper(c);
    static const std::array<std::u16string, 6> plain = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const auto& name : plain)
        if (stem == name) return true;
    if (stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0)) {
        const char16_t digit = stem[3];
        return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
               digit == u'\u00B3';
    }
    return false;
}

bool isSafeComponent(const std::u16string& component) {
    if (component.empty() || component == u"." || component == u"..") return false;
    for (char16_t c : component)
        if (isForbiddenCharacter(c)) return false;
    const char16_t last = component.back();
    if (last == u'.' || last == u' ') return false;
    return !isReservedDeviceName(component);
}

}  // namespace

bool toSafeEntryPath(const std::u16string& name, EntryPath& path) {
    path = EntryPath{};
    if (name.empty() || isSeparator(name.front())) return false;
    std::u16string body = name;
    if (isSeparator(body.back())) {
        path.isDirectory = true;
        body.pop_back();
    }
    std::size_t start = 0;
    for (;;) {
        std::size_t end = start;
        while (end < body.size() && !isSeparator(body[end])) ++end;
        std::u16string component = body.substr(start, end - start);
        if (!isSafeComponent(component)) return false;
        path.parts.push_back(std::move(component));
        if (end == body.size()) break;
        start = end + 1;
    }
    return true;
}

}  // namespace zipcore
