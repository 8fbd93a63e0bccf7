// The zip companion kept beside the control: packing one file into a new archive and unpacking
// an archive into a new directory. The library is loaded on first use and kept for the life of
// the module. Files of 40 bytes or less are not handed to it.
#pragma once
#include <windows.h>
#include <string>
#include "fileservices/FileChecks.h"
#include "typeprobe.h"

namespace tarnwick::archive {

enum class ZipStatus {
    Done,
    TooSmall,       // the size query gave 40 bytes or less (or failed): nothing else happened
    LoadFailed,     // the library could not be loaded; code holds the system's reason
    ExportMissing,  // the library lacks the export
    Failed,         // the library reported failure; code holds its reason
};

struct ZipOutcome {
    ZipStatus status = ZipStatus::Done;
    files::SizeQuery size;  // the size query that always comes first
    DWORD code = 0;
    unsigned int count = 0;  // files unpacked
};

// Bounds of the unpacking the file type probe does.
constexpr unsigned int kProbeMaxEntries = probe::kMaxArchiveEntries;
constexpr unsigned int kProbeMaxMiB = probe::kMaxArchiveMiB;

// Packs source into the new archive directory + name.
ZipOutcome PackFile(const std::wstring& source, const std::wstring& name, const std::wstring& directory);

// Unpacks archive into the new directory (removed again by the library on failure), within the
// probe's bounds.
ZipOutcome UnpackArchive(const std::wstring& archive, const std::wstring& directory);

}  // namespace tarnwick::archive
