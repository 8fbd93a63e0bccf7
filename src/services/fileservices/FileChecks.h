// The checks every local-file method runs on a page-given path, and the size query.
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick::files {

enum class PathStatus {
    Ok,
    Empty,     // no path at all
    NotFound,  // nothing by that name
    Failed,    // the look-up itself failed; code holds the system's reason
};

struct PathCheck {
    PathStatus status = PathStatus::Ok;
    DWORD code = 0;
};

// Anything the system's find-first lookup resolves counts as existing, directories included;
// so does a drive or share root, which has no directory entry of its own.
PathCheck CheckPath(const std::string& path);

// The size of a file, its low 32 bits read as signed, or -1. When the plain open fails, code
// holds the system's reason (the page is told it) and the append-mode open is tried instead.
struct SizeQuery {
    long size = -1;
    bool openFailed = false;
    DWORD code = 0;
};
SizeQuery QueryFileSize(const std::string& path);

}  // namespace tarnwick::files
