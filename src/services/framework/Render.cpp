#include "Render.h"
#include <cwchar>

namespace tarnwick {

std::wstring Render(const wchar_t* message, std::initializer_list<std::wstring> args) {
    const std::wstring format = message;
    std::wstring out;
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%') {
            out += format[i];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == L'%') {
            out += L'%';
            ++i;
            continue;
        }
        // Flags, width and length up to the conversion letter.
        size_t j = i + 1;
        while (j < format.size() && wcschr(L"-+ #0123456789.hlLqjzt", format[j])) ++j;
        if (next != args.end()) out += *next++;
        i = j;
    }
    return out;
}

std::wstring Decimal(long long value) { return std::to_wstring(value); }

std::wstring Hex4(unsigned value) {
    wchar_t buffer[16];
    swprintf(buffer, 16, L"%04X", value);
    return buffer;
}

}  // namespace tarnwick
