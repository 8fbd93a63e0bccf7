#include "SystemError.h"
#include "NarrowString.h"

namespace tarnwick {
namespace {
constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                         FORMAT_MESSAGE_FROM_SYSTEM;

bool LookUp(DWORD code, std::string& text) {
    char* buffer = nullptr;
    DWORD length = FormatMessageA(kFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) {
        if (buffer) LocalFree(buffer);
        return false;
    }
    text.assign(buffer, length);
    LocalFree(buffer);
    return true;
}
}  // namespace

std::string SystemErrorText(DWORD code) {
    std::string text;
    if (!LookUp(code, text)) return std::string();
    return Format("%s", text.c_str());
}

std::string SystemErrorTextWithCode(DWORD code) {
    std::string text;
    if (!LookUp(code, text)) return std::string();
    return Format("%s (%d)", text.c_str(), static_cast<int>(code));
}

}  // namespace tarnwick
