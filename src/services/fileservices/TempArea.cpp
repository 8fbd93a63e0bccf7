#include "fileservices/TempArea.h"
#include "framework/ModuleState.h"
#include "framework/NarrowString.h"
#include "framework/Owners.h"
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

namespace tarnwick::files {
namespace {

TempPathQuery g_tempPathQuery = ::GetTempPathA;
std::atomic<int> g_nameCounter{0};

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

std::string ModuleDirectory() {
    char buffer[260] = {};
    GetModuleFileNameA(ModuleInstance(), buffer, 259);
    std::string path = buffer;
    size_t slash = path.rfind('\\');
    if (slash != std::string::npos) path.resize(slash + 1);
    return path;
}

std::string TempDirectory() {
    char buffer[260] = {};
    if (g_tempPathQuery(259, buffer) != 0) return buffer;
    return ModuleDirectory();
}

TempPathQuery SetTempPathQuery(TempPathQuery query) {
    TempPathQuery previous = g_tempPathQuery;
    g_tempPathQuery = query;
    return previous;
}

bool IsInTempDirectory(const std::string& path) {
    if (path.empty()) return false;
    std::string temp = FullPath(TempDirectory());
    std::string full = FullPath(path);
    if (temp.empty() || full.empty()) return false;
    if (temp.back() != '\\') temp += '\\';
    while (full.size() > temp.size() && full.back() == '\\') full.pop_back();
    if (full.size() <= temp.size()) return false;
    return EqualIgnoringCase(full.substr(0, temp.size()), temp);
}

void ResetUniqueNames() {
    g_nameCounter = 0;
    srand(static_cast<unsigned>(_time64(nullptr)));
}

std::string MakeUniqueName() {
    int random = rand() % 9999;
    int counter = g_nameCounter.load();
    int next;
    do {
        next = counter >= 9999 ? 0 : counter + 1;
    } while (!g_nameCounter.compare_exchange_weak(counter, next));
    return Format("%04d%04d%04d", _getpid(), random, next);
}

bool RemoveDirectoryTree(const std::string& directory) {
    std::string pattern = Format("%s\\*.*", directory.c_str());
    if (!IsInTempDirectory(directory)) return false;
    if (pattern.size() >= 1024) return false;

    WIN32_FIND_DATAA entry = {};
    UniqueFind find(FindFirstFileA(pattern.c_str(), &entry));
    if (find) {
        do {
            if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
            std::string path = Format("%s\\%s", directory.c_str(), entry.cFileName);
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
    return RemoveDirectoryA(directory.c_str()) != FALSE;
}

}  // namespace tarnwick::files
