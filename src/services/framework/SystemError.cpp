#include "SystemError.h"

namespace tarnwick {
namespace {
constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                         FORMAT_MESSAGE_FROM_SYSTEM;

bool LookUp(DWORD code, std::wstring& text) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(kFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) {
        if (buffer) LocalFree(buffer);
        return false;
    }
    text.assign(buffer, wcsnlen(buffer, length));  // as a C string would end
    LocalFree(buffer);
    return true;
}
}  // namespace

std::wstring SystemErrorText(DWORD code) {
    std::wstring text;
    return LookUp(code, text) ? text : std::wstring();
}

std::wstring SystemErrorTextWithCode(DWORD code) {
    std::wstring text;
    if (!LookUp(code, text)) return std::wstring();
    return text + L" (" + std::to_wstring(static_cast<int>(code)) + L")";
}

}  // namespace tarnwick
