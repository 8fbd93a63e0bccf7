// The file type probe of a local file: "STRING" for plain text named .txt, "MSEXCEL" for a
// workbook in zip form (told by unpacking it below the temporary directory), otherwise the first
// 15 bytes as hex text.
#pragma once
#include <windows.h>
#include <string>
#include "archive/ZipLibrary.h"

namespace tarnwick::archive {

enum class ProbeStatus {
    Done,
    OpenFailed,  // the file could not be opened; code holds the system's reason
    Failed,      // the probe stopped on an exception; code holds the system's last error
    NoTempDirectory,  // a zip archive, but no temporary directory to tell a workbook in
};

struct ProbeOutcome {
    std::string result;
    ProbeStatus status = ProbeStatus::Done;
    DWORD code = 0;
    bool unpacked = false;  // the workbook test ran; unpack holds its outcome
    ZipOutcome unpack;
};

// path is probed as given (the caller has checked that it exists).
ProbeOutcome ProbeFile(const std::wstring& path);

}  // namespace tarnwick::archive
