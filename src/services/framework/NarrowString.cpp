#include "NarrowString.h"
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

std::string WideToAnsi(const wchar_t* text, int length) {
    if (!text) return std::string();
    if (length < 0) length = static_cast<int>(wcslen(text));
    if (length == 0) return std::string();
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], bytes, nullptr, nullptr);
    size_t nul = out.find('\0');
    if (nul != std::string::npos) out.resize(nul);
    return out;
}

std::wstring AnsiToWide(const std::string& text, UINT codePage) {
    if (text.empty()) return std::wstring();
    int chars = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], chars);
    return out;
}

BSTR AnsiToBstr(const std::string& text) {
    std::wstring wide = AnsiToWide(text);
    BSTR out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!out) throw std::bad_alloc();
    return out;
}

std::string MakeLower(const std::string& text) {
    std::string out = text;
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsDBCSLeadByte(c) && i + 1 < out.size()) {
            ++i;
        } else if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string LoadModuleString(UINT id) {
    char buffer[256] = {};
    if (LoadStringA(ModuleInstance(), id, buffer, 255) <= 0) return std::string();
    return buffer;
}

}  // namespace tarnwick
