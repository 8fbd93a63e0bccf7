// Paths for the wide file calls: the full form, the long-path form that works at any length, and
// the removal of a directory tree.
#pragma once
#include <windows.h>
#include <string>
#include "Owners.h"

namespace tarnwick {

// The full, normalised form of a path ("." and ".." resolved, "/" turned into "\"); empty when
// the system cannot form it.
std::wstring FullPath(const std::wstring& path);

// The long-path form of a full path: "\\?\C:\..." or "\\?\UNC\server\share\..."; a path already
// in that form stays as it is.
std::wstring LongPathForm(const std::wstring& full);

// The long-path form of any path, trailing separators dropped (a root keeps its own); empty when
// the system cannot form the full path.
std::wstring LongPathOf(const std::wstring& path);

// A path the wide file calls take at any length: long ones get the long-path form of their full
// path; shorter ones stay as they are.
std::wstring ForFileCalls(const std::wstring& path);

// Removes a directory and everything below it, read-only entries included. A junction or link is
// removed itself; what it points at is never entered. directory is best in the long-path form.
// True when the directory itself is gone.
bool RemoveTree(const std::wstring& directory);

// A file this code made and must not leave behind: deleted when its owner ends, on every path
// (an exception included), unless released.
struct TemporaryFilePolicy {
    using pointer = std::wstring;
    static std::wstring invalid() { return std::wstring(); }
    static bool valid(const std::wstring& path) { return !path.empty(); }
    static void close(const std::wstring& path) { DeleteFileW(ForFileCalls(path).c_str()); }
};
using TemporaryFile = Unique<TemporaryFilePolicy>;

}  // namespace tarnwick
