#include "entryname.h"

#include "names.h"

namespace zipcore {
namespace {

bool isSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

bool isForbiddenCharacter(char16_t c) {
    if (c < 0x20) return true;
    for (char16_t bad : u"<>:\"|?*")
        if (bad != 0 && c == bad) return true;
    return false;
}

bool isSafeComponent(const std::u16string& component) {
    if (component.empty() || component == u"." || component == u"..") return false;
    for (char16_t c : component)
        if (isForbiddenCharacter(c)) return false;
    const char16_t last = component.back();
    if (last == u'.' || last == u' ') return false;
    return !names::IsReservedDeviceName(component);
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
