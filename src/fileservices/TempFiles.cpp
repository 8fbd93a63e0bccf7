// Temporary names, the temporary and module directories, writing and removing temporary files,
// and the hex rendering of bytes.
#include "control/TarnwickApp.h"
#include "framework/ModuleState.h"
#include "framework/NarrowString.h"
#include "framework/Owners.h"
#include <cstdlib>
#include <cstring>
#include <process.h>
#include <sys/stat.h>
#include <io.h>

std::string CTarnwickApp::ByteToHex(unsigned char byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string{kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string CTarnwickApp::MakeUniqueName() {
    int random = rand() % 9999;
    m_nNameCounter = (m_nNameCounter >= 9999) ? 0 : m_nNameCounter + 1;
    return tarnwick::Format("%04d%04d%04d", _getpid(), random, m_nNameCounter);
}

std::string CTarnwickApp::GetModuleDirectory() {
    char buffer[260] = {};
    GetModuleFileNameA(tarnwick::ModuleInstance(), buffer, 259);
    std::string path = buffer;
    size_t slash = path.rfind('\\');
    if (slash != std::string::npos) path.resize(slash + 1);
    return path;
}

std::string CTarnwickApp::GetTempDirectory() {
    char buffer[260] = {};
    if (m_pfnGetTempPathA(259, buffer) != 0) return buffer;
    return GetModuleDirectory();
}

namespace {

// The full, normalised form of a path: "." and ".." resolved, "/" turned into "\".
std::string FullPath(const std::string& path) {
    char buffer[1024] = {};
    DWORD length = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
    if (length == 0 || length >= sizeof(buffer)) return std::string();
    return buffer;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

// A path lies in the temporary directory when its full form starts with the temporary
// directory's full form and names something below it. ".." steps are resolved before the
// comparison, so they cannot lead out; the directory itself is never accepted.
BOOL CTarnwickApp::IsInTempDirectory(const std::string& path) {
    if (path.empty()) return FALSE;
    std::string temp = FullPath(GetTempDirectory());
    std::string full = FullPath(path);
    if (temp.empty() || full.empty()) return FALSE;
    if (temp.back() != '\\') temp += '\\';
    while (full.size() > temp.size() && full.back() == '\\') full.pop_back();
    if (full.size() <= temp.size()) return FALSE;
    return EqualIgnoringCase(full.substr(0, temp.size()), temp) ? TRUE : FALSE;
}

BOOL CTarnwickApp::RemoveDirectoryTree(const std::string& directory) {
    std::string pattern = tarnwick::Format("%s\\*.*", directory.c_str());
    if (!IsInTempDirectory(directory)) return FALSE;
    if (pattern.size() >= 1024) return FALSE;

    WIN32_FIND_DATAA entry = {};
    tarnwick::UniqueFind find(FindFirstFileA(pattern.c_str(), &entry));
    if (find) {
        do {
            if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
            std::string path = tarnwick::Format("%s\\%s", directory.c_str(), entry.cFileName);
            if (path.size() >= 1024) continue;  // too long to build: left alone
            _chmod(path.c_str(), _S_IWRITE);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A junction or link is removed itself; what it points at is never entered.
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    RemoveDirectoryA(path.c_str());
                else
                    RemoveDirectoryTree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find.get(), &entry));
        find.reset();
    }
    _chmod(directory.c_str(), _S_IWRITE);
    return RemoveDirectoryA(directory.c_str());
}

long CTarnwickApp::WriteBufferToFile(const std::string& path, const void* bytes, DWORD count) {
    tarnwick::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return -1;
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, count, &written, nullptr)) return -1;
    return static_cast<long>(written);
}
