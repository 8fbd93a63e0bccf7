// The temporary area: where the control may create, change and delete files. Its directory, the
// test that a path lies below it, unique names for new files, and removing a tree made there.
// Paths are UTF-16 throughout.
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick::files {

// The user's temporary directory, ending in '\'. False (and nothing) when the system names none
// or it does not exist as a directory: then nothing may be created anywhere.
bool TempDirectory(std::wstring& directory);

// The system's temporary-path query; a seam so tests can make it fail or answer as they like.
// Returns the previous one.
using TempPathQuery = DWORD(WINAPI*)(DWORD, LPWSTR);
TempPathQuery SetTempPathQuery(TempPathQuery query);

// A path lies in the temporary directory when its full form starts with the temporary
// directory's full form and names something below it. ".." steps are resolved before the
// comparison, so they cannot lead out; the directory itself is never accepted.
bool IsInTempDirectory(const std::wstring& path);

// Twelve digits: the process id, a random part and a counter that wraps after 9999.
std::wstring MakeUniqueName();
// Starts the counter and the random part afresh (module start).
void ResetUniqueNames();

// Removes a directory below the temporary directory with everything in it (read-only entries
// included; links are removed, never followed; any name and any length, through the long-path
// prefix). False when the directory is not below the temporary directory or could not be removed.
bool RemoveDirectoryTree(const std::wstring& directory);

// Deletes a file the control made, at any length of path: ERROR_SUCCESS or the system's reason.
DWORD DeleteCreatedFile(const std::wstring& path);

}  // namespace tarnwick::files
