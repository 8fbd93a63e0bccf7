#include "Paths.h"
#include "Owners.h"

namespace tarnwick {

std::wstring FullPath(const std::wstring& path) {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), &buffer[0], nullptr);
    if (length == 0 || length >= buffer.size()) return std::wstring();
    buffer.resize(length);
    return buffer;
}

std::wstring LongPathForm(const std::wstring& full) {
    if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring LongPathOf(const std::wstring& path) {
    std::wstring full = FullPath(path);
    if (full.empty()) return full;
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return LongPathForm(full);
}

std::wstring ForFileCalls(const std::wstring& path) {
    if (path.size() < MAX_PATH - 12 || path.compare(0, 4, L"\\\\?\\") == 0) return path;
    const std::wstring full = FullPath(path);
    return full.empty() ? path : LongPathForm(full);
}

bool RemoveTree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry = {};
    UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (find) {
        do {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
            const std::wstring path = directory + L"\\" + entry.cFileName;
            const DWORD attributes = entry.dwFileAttributes;
            if (attributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(path.c_str());
            else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveDirectoryW(path.c_str());
            else
                RemoveTree(path);
        } while (FindNextFileW(find.get(), &entry));
        find.reset();
    }
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(directory.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return RemoveDirectoryW(directory.c_str()) != FALSE;
}

}  // namespace tarnwick
