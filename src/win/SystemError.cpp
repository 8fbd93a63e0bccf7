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

// Codes our own modules report whose text some systems lack (Wine has none for
// ERROR_FILE_TOO_LARGE, which the archive bounds report): worded as Windows words them, so that a
// refusal never gives the reason as an empty text.
bool OwnText(DWORD code, std::wstring& text) {
    if (code != ERROR_FILE_TOO_LARGE) return false;
    text = L"\u6587\u4ef6\u5927\u5c0f\u8d85\u51fa\u5141\u8bb8\u7684\u9650\u5236\uff0c"
           L"\u65e0\u6cd5\u4fdd\u5b58\u3002\r\n";
    return true;
}
}  // namespace

std::wstring SystemErrorText(DWORD code) {
    std::wstring text;
    return LookUp(code, text) || OwnText(code, text) ? text : std::wstring();
}

std::wstring SystemErrorTextWithCode(DWORD code) {
    std::wstring text;
    if (!LookUp(code, text) && !OwnText(code, text)) return std::wstring();
    return text + L" (" + std::to_wstring(static_cast<int>(code)) + L")";
}

}  // namespace tarnwick
