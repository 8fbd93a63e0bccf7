// The system's own text for the thread's last error code.
#include "control/TarnwickApp.h"
#include "framework/NarrowString.h"

namespace {
constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                         FORMAT_MESSAGE_FROM_SYSTEM;

// The text exactly as the system delivers it, trailing line break included; empty if none.
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

std::string CTarnwickApp::GetSystemErrorText() {
    std::string text;
    if (!LookUp(GetLastError(), text)) return std::string();
    return tarnwick::Format("%s", text.c_str());
}

std::string CTarnwickApp::GetSystemErrorTextWithCode() {
    std::string text;
    if (!LookUp(GetLastError(), text)) return std::string();
    // The code is read again after the look-up, as the system left it.
    return tarnwick::Format("%s (%d)", text.c_str(), static_cast<int>(GetLastError()));
}
