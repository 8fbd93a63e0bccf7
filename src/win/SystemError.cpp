#include "SystemError.h"
#include "Owners.h"

namespace tarnwick {
namespace {
constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                         FORMAT_MESSAGE_FROM_SYSTEM;

bool LookUp(DWORD code, std::wstring& text) {
    UniqueLocal buffer;
    DWORD length = FormatMessageW(kFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer) return false;
    const wchar_t* chars = static_cast<const wchar_t*>(buffer.get());
    text.assign(chars, wcsnlen(chars, length));  // as a C string would end
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
