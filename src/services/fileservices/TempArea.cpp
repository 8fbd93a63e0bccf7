#include "fileservices/TempArea.h"
#include "framework/ModuleState.h"
#include "framework/NarrowString.h"
#include "framework/Owners.h"
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <process.h>

namespace tarnwick::files {
namespace {

TempPathQuery g_tempPathQuery = ::GetTempPathW;
std::atomic<int> g_nameCounter{0};

// The full, normalised form of a path: "." and ".." resolved, "/" turned into "\\".
std::wstring FullPath(const std::wstring& path) {
    std::wstring buffer(32768, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), &buffer[0], nullptr);
    if (length == 0 || length >= buffer.size()) return std::wstring();
    buffer.resize(length);
    return buffer;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

bool TempDirectory(std::wstring& directory) {
    directory.clear();
    std::wstring wide(32768, L'\0');
    DWORD length = g_tempPathQuery(static_cast<DWORD>(wide.size()), &wide[0]);
    if (length == 0 || length >= wide.size()) return false;
    wide.resize(length);
    if (wide.back() != L'\\') wide += L'\\';
    const DWORD attributes = GetFileAttributesW(ForFileCalls(wide).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    directory = wide;
    return true;
}

TempPathQuery SetTempPathQuery(TempPathQuery query) {
    TempPathQuery previous = g_tempPathQuery;
    g_tempPathQuery = query;
    return previous;
}

bool IsInTempDirectory(const std::wstring& path) {
    if (path.empty()) return false;
    std::wstring directory;
    if (!TempDirectory(directory)) return false;
    std::wstring temp = FullPath(directory);
    std::wstring full = FullPath(path);
    if (temp.empty() || full.empty()) return false;
    if (temp.back() != L'\\') temp += L'\\';
    while (full.size() > temp.size() && full.back() == L'\\') full.pop_back();
    if (full.size() <= temp.size()) return false;
    return EqualIgnoringCase(full.substr(0, temp.size()), temp);
}

void ResetUniqueNames() {
    g_nameCounter = 0;
    srand(static_cast<unsigned>(_time64(nullptr)));
}

std::wstring MakeUniqueName() {
    int random = rand() % 9999;
    int counter = g_nameCounter.load();
    int next;
    do {
        next = counter >= 9999 ? 0 : counter + 1;
    } while (!g_nameCounter.compare_exchange_weak(counter, next));
    wchar_t name[32];
    swprintf(name, 32, L"%04d%04d%04d", _getpid(), random, next);
    return name;
}

namespace {

// The long-path form of a full path: "\\?\C:\..." or "\\?\UNC\server\share\...".
std::wstring LongPath(const std::wstring& full) {
    if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool RemoveTree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry = {};
    UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (find) {
        do {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
            const std::wstring path = directory + L"\\" + entry.cFileName;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A junction or link is removed itself; what it points at is never entered.
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    RemoveDirectoryW(path.c_str());
                else
                    RemoveTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find.get(), &entry));
        find.reset();
    }
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(directory.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return RemoveDirectoryW(directory.c_str()) != FALSE;
}

}  // namespace

bool RemoveDirectoryTree(const std::wstring& directory) {
    if (!IsInTempDirectory(directory)) return false;
    std::wstring full = FullPath(directory);
    if (full.empty()) return false;
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return RemoveTree(LongPath(full));
}

}  // namespace tarnwick::files
