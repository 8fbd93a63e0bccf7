#include "fileservices/TempArea.h"
#include "framework/ModuleState.h"
#include "framework/Strings.h"
#include "Owners.h"
#include "Paths.h"
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <process.h>

namespace tarnwick::files {
namespace {

TempPathQuery g_tempPathQuery = ::GetTempPathW;
std::atomic<int> g_nameCounter{0};

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

bool RemoveDirectoryTree(const std::wstring& directory) {
    if (!IsInTempDirectory(directory)) return false;
    const std::wstring tree = LongPathOf(directory);
    return !tree.empty() && RemoveTree(tree);
}

DWORD DeleteCreatedFile(const std::wstring& path) {
    return DeleteFileW(ForFileCalls(path).c_str()) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace tarnwick::files
