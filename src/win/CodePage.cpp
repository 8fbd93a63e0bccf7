#include "CodePage.h"

namespace tarnwick {

bool ToWide(UINT codePage, std::string_view text, std::wstring& wide, bool strict) {
    wide.clear();
    if (text.empty()) return true;
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length <= 0) return false;
    wide.resize(static_cast<size_t>(length));
    if (MultiByteToWideChar(codePage, flags, text.data(), size, &wide[0], length) == length) return true;
    wide.clear();
    return false;
}

std::wstring ToWide(UINT codePage, std::string_view text) {
    std::wstring wide;
    ToWide(codePage, text, wide);
    return wide;
}

bool FromWide(UINT codePage, std::wstring_view wide, std::string& text, bool* lossy) {
    text.clear();
    if (lossy) *lossy = false;
    if (wide.empty()) return true;
    // UTF-8 and UTF-7 take neither a default character nor its flag.
    const bool unicode = codePage == CP_UTF8 || codePage == CP_UTF7;
    const DWORD flags = lossy && !unicode ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL usedDefault = FALSE;
    BOOL* defaultFlag = lossy && !unicode ? &usedDefault : nullptr;
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, defaultFlag);
    if (length <= 0) return false;
    text.resize(static_cast<size_t>(length));
    if (WideCharToMultiByte(codePage, flags, wide.data(), size, &text[0], length, nullptr, defaultFlag) != length) {
        text.clear();
        return false;
    }
    if (lossy) *lossy = usedDefault != FALSE;
    return true;
}

std::string FromWide(UINT codePage, std::wstring_view wide) {
    std::string text;
    FromWide(codePage, wide, text);
    return text;
}

}  // namespace tarnwick
