#include "Strings.h"
#include "ModuleState.h"
#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

namespace tarnwick {

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<size_t>(needed) + 1);
        vsnprintf(&out[0], out.size(), format, args);
        out.resize(static_cast<size_t>(needed));
    }
    va_end(args);
    return out;
}

BSTR ToBstr(const std::wstring& text) {
    BSTR out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!out) throw std::bad_alloc();
    return out;
}

std::wstring LoadModuleString(UINT id) {
    wchar_t buffer[256] = {};
    if (LoadStringW(ModuleInstance(), id, buffer, 255) <= 0) return std::wstring();
    return buffer;
}

std::wstring LowerAscii(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return out;
}

}  // namespace tarnwick
