// The zip companion kept beside the control: packing one file into a new archive and unpacking
// an archive into a new directory. The library is loaded on first use and kept for the life of
// the module. Files of 40 bytes or less are not handed to it.
#pragma once
#include <windows.h>
#include <string>
#include "fileservices/FileChecks.h"

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

constexpr long kMinimumArchivableSize = 40;

// Bounds of the unpacking the file type probe does: a workbook has a few hundred parts at most,
// and the probe must answer within seconds whatever a page hands it.
constexpr unsigned int kProbeMaxEntries = 1000;
constexpr unsigned int kProbeMaxMiB = 256;

// Packs source into the new archive directory + name.
ZipOutcome PackFile(const std::wstring& source, const std::wstring& name, const std::wstring& directory);

// Unpacks archive into the new directory (removed again by the library on failure), within the
// probe's bounds.
ZipOutcome UnpackArchive(const std::wstring& archive, const std::wstring& directory);

}  // namespace tarnwick::archive
