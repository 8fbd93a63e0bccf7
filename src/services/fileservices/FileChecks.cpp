#include "fileservices/FileChecks.h"
#include "Owners.h"
#include "names.h"
#include "framework/Strings.h"
#include "Paths.h"

namespace tarnwick::files {

namespace {

// The last component of a path names a device whatever folder it stands in.
bool NamesADevice(const std::wstring& path) {
    std::wstring wide = path;
    while (!wide.empty() && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    const size_t slash = wide.find_last_of(L"\\/:");
    const std::wstring last = slash == std::wstring::npos ? wide : wide.substr(slash + 1);
    return names::IsReservedDeviceName(std::u16string(last.begin(), last.end()));
}

// True unless the path opens as something other than a file or directory on a disk.
bool IsOnDisk(const std::wstring& path) {
    UniqueFile handle(CreateFileW(ForFileCalls(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return !handle || GetFileType(handle.get()) == FILE_TYPE_DISK;
}

// "\\.\" and "\\?\" name the system's device space: only a drive path ("\\?\C:\...") or a
// share ("\\?\UNC\...") there is a file; pipes, volumes, mailslots and the rest are not.
bool NamesDeviceSpace(const std::wstring& path) {
    auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (path.size() < 4 || !slash(path[0]) || !slash(path[1]) || (path[2] != L'.' && path[2] != L'?') ||
        !slash(path[3]))
        return false;
    const std::wstring rest = path.substr(4);
    const bool drive = rest.size() > 3 && iswalpha(rest[0]) && rest[1] == L':' && slash(rest[2]);
    const bool share = rest.size() > 4 && _wcsnicmp(rest.c_str(), L"UNC", 3) == 0 && slash(rest[3]);
    return !drive && !share;
}

bool HasWildcards(const std::wstring& path) {
    const size_t start = path.compare(0, 4, L"\\\\?\\") == 0 ? 4 : 0;
    return path.find_first_of(L"*?", start) != std::wstring::npos;
}

}  // namespace

PathCheck CheckPath(const std::wstring& path) {
    PathCheck check;
    if (path.empty()) {
        check.status = PathStatus::Empty;
        return check;
    }
    if (NamesADevice(path) || NamesDeviceSpace(path)) {
        check.status = PathStatus::NotADisk;
        return check;
    }
    try {
        bool exists = false;
        if (!HasWildcards(path)) {
            const std::wstring name = ForFileCalls(path);
            WIN32_FIND_DATAW data = {};
            UniqueFind find(FindFirstFileW(name.c_str(), &data));
            exists = static_cast<bool>(find);
            if (!exists) {
                DWORD attributes = GetFileAttributesW(name.c_str());
                exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
            }
        }
        if (!exists)
            check.status = PathStatus::NotFound;
        else if (!IsOnDisk(path))
            check.status = PathStatus::NotADisk;
    } catch (...) {
        check.status = PathStatus::Failed;
        check.code = GetLastError();
    }
    return check;
}

SizeQuery QueryFileSize(const std::wstring& path) {
    SizeQuery query;
    UniqueFile file(CreateFileW(ForFileCalls(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        query.openFailed = true;
        query.code = GetLastError();
        return query;
    }
    query.fullSize = static_cast<unsigned long long>(size.QuadPart);
    query.size = static_cast<long>(static_cast<unsigned long>(size.LowPart));
    return query;
}

}  // namespace tarnwick::files
