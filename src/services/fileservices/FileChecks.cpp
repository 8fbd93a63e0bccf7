#include "fileservices/FileChecks.h"
#include "framework/Owners.h"
#include "names.h"
#include "framework/NarrowString.h"

namespace tarnwick::files {

namespace {

// The last component of a path names a device whatever folder it stands in.
bool NamesADevice(const std::string& path) {
    std::wstring wide = AnsiToWide(path);
    while (!wide.empty() && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    const size_t slash = wide.find_last_of(L"\\/:");
    const std::wstring last = slash == std::wstring::npos ? wide : wide.substr(slash + 1);
    return names::IsReservedDeviceName(std::u16string(last.begin(), last.end()));
}

// True unless the path opens as something other than a file or directory on a disk.
bool IsOnDisk(const std::string& path) {
    UniqueFile handle(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return !handle || GetFileType(handle.get()) == FILE_TYPE_DISK;
}

}  // namespace

PathCheck CheckPath(const std::string& path) {
    PathCheck check;
    if (path.empty()) {
        check.status = PathStatus::Empty;
        return check;
    }
    if (NamesADevice(path)) {
        check.status = PathStatus::NotADisk;
        return check;
    }
    try {
        WIN32_FIND_DATAA data = {};
        UniqueFind find(FindFirstFileA(path.c_str(), &data));
        bool exists = static_cast<bool>(find);
        if (!exists && path.find_first_of("*?") == std::string::npos) {
            DWORD attributes = GetFileAttributesA(path.c_str());
            exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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

SizeQuery QueryFileSize(const std::string& path) {
    SizeQuery query;
    UniqueFile file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
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
