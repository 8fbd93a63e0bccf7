// The checks every local-file method runs on a page-given path, and the size query.
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick::files {

enum class PathStatus {
    Ok,
    Empty,     // no path at all
    NotFound,  // nothing by that name
    NotADisk,  // a device name (in any folder, with any extension), a pipe, a console ...
    Failed,    // the look-up itself failed; code holds the system's reason
};

struct PathCheck {
    PathStatus status = PathStatus::Ok;
    DWORD code = 0;
};

// Anything the system's find-first lookup resolves counts as existing, directories included
// (wildcards are no names: a path holding '*' or '?' names nothing);
// so does a drive or share root, which has no directory entry of its own. What is not a file on
// a disk is refused before anything reads it: a DOS device name as the last component is refused
// without touching the file system, anything else by the type of its handle.
PathCheck CheckPath(const std::wstring& path);

// The size of a file, its low 32 bits read as signed, or -1; the whole size beside it. The file
// is opened for its attributes only, sharing everything, so a file held open by another program
// is sized too and nothing is ever created. When the open fails, code holds the system's reason.
struct SizeQuery {
    long size = -1;
    unsigned long long fullSize = 0;
    bool openFailed = false;
    DWORD code = 0;
};
SizeQuery QueryFileSize(const std::wstring& path);

}  // namespace tarnwick::files
