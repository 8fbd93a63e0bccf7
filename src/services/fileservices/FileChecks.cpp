#include "fileservices/FileChecks.h"
#include "framework/Owners.h"
#include <cstdio>

namespace tarnwick::files {

PathCheck CheckPath(const std::string& path) {
    PathCheck check;
    if (path.empty()) {
        check.status = PathStatus::Empty;
        return check;
    }
    try {
        WIN32_FIND_DATAA data = {};
        UniqueFind find(FindFirstFileA(path.c_str(), &data));
        if (find) return check;
        if (path.find_first_of("*?") == std::string::npos) {
            DWORD attributes = GetFileAttributesA(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return check;
        }
        check.status = PathStatus::NotFound;
    } catch (...) {
        check.status = PathStatus::Failed;
        check.code = GetLastError();
    }
    return check;
}

SizeQuery QueryFileSize(const std::string& path) {
    SizeQuery query;
    HFILE file = HFILE_ERROR;
    try {
        OFSTRUCT info = {};
        info.cBytes = sizeof(info);
        file = OpenFile(path.c_str(), &info, OF_READ);
        bool needFallback = true;
        if (file == HFILE_ERROR) {
            query.openFailed = true;
            query.code = GetLastError();
        } else {
            DWORD low = GetFileSize(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)), nullptr);
            query.size = static_cast<long>(low);
            needFallback = (low == INVALID_FILE_SIZE);
        }
        if (needFallback) {
            // Append mode opens what a plain read-open may not; the size is the end position.
            FILE* stream = fopen(path.c_str(), "a");
            if (stream) {
                fseek(stream, 0, SEEK_END);
                query.size = ftell(stream);
                fclose(stream);
            }
        }
    } catch (...) {
        query.openFailed = true;
        query.code = GetLastError();
        query.size = -1;
    }
    if (file != HFILE_ERROR) _lclose(file);
    return query;
}

}  // namespace tarnwick::files
