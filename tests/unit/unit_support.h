// Shared helpers of the unit suites.
#pragma once
#include <windows.h>
#include <string>

namespace testsupport {

// The crypto engine of the test's own architecture, as the control loads it.
#ifdef _WIN64
constexpr char kEngineFile[] = "OVALON.x64.dll";
#else
constexpr char kEngineFile[] = "OVALON.x86.dll";
#endif

// Directory of the running test program (bin/, beside the modules), with a trailing backslash.
inline std::string ExeDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.rfind('\\') + 1);
}

inline std::string SystemText(DWORD code) {
    char* buffer = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text(buffer ? buffer : "", n);
    if (buffer) LocalFree(buffer);
    return text;
}

inline bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Wide text as code page 936 bytes (the suites compare texts with their literals in that code
// page), and back.
inline std::string Gbk(const std::wstring& text) {
    if (text.empty()) return std::string();
    int bytes = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}
inline std::wstring FromGbk(const std::string& text) {
    if (text.empty()) return std::wstring();
    int chars = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), &out[0], chars);
    return out;
}

inline std::string TempPath() {
    char buffer[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, buffer);
    return buffer;
}

}  // namespace testsupport
