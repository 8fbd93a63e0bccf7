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

std::wstring ForFileCalls(const std::wstring& path) {
    if (path.size() < MAX_PATH - 12 || path.compare(0, 4, L"\\\\?\\") == 0) return path;
    std::wstring full(32768, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length == 0 || length >= full.size()) return path;
    full.resize(length);
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace tarnwick
