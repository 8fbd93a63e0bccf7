#include "archive/ZipLibrary.h"
#include "fileservices/TempArea.h"
#include "framework/Companion.h"
#include "ziptool.h"
#include "zip/zipcore.h"
#include <vector>

namespace tarnwick::archive {
namespace {

Companion g_library(L"ziptool.dll");

// The size query that comes first, and the 40-byte rule on the whole size.
bool LargeEnough(const std::wstring& path, ZipOutcome& outcome) {
    outcome.size = files::QueryFileSize(path);
    if (!outcome.size.openFailed && zipcore::isArchivableSize(outcome.size.fullSize))
        return true;
    outcome.status = ZipStatus::TooSmall;
    return false;
}

// One export of the library, loaded on first use.
template <typename Proc>
Proc Export(const char* name, ZipOutcome& outcome) {
    DWORD code = 0;
    if (!g_library.Load(code)) {
        outcome.status = ZipStatus::LoadFailed;
        outcome.code = code;
        return nullptr;
    }
    FARPROC entry = g_library.Find(name);
    if (!entry) outcome.status = ZipStatus::ExportMissing;
    return reinterpret_cast<Proc>(entry);
}

}  // namespace

ZipOutcome PackFile(const std::wstring& source, const std::wstring& name, const std::wstring& directory) {
    ZipOutcome outcome;
    if (!LargeEnough(source, outcome)) return outcome;
    auto zip = Export<ZipFileWProc>("ZipFileW", outcome);
    if (!zip) return outcome;
    if (zip(source.c_str(), name.c_str(), directory.c_str()) == ZIPTOOL_FAILED) {
        outcome.status = ZipStatus::Failed;
        outcome.code = GetLastError();
    }
    return outcome;
}

ZipOutcome UnpackArchive(const std::wstring& archive, const std::wstring& directory) {
    ZipOutcome outcome;
    if (!LargeEnough(archive, outcome)) return outcome;
    auto unzip = Export<UnzipFileWProc>("UnzipFileW", outcome);
    if (!unzip) return outcome;
    if (unzip(archive.c_str(), directory.c_str(), &outcome.count, kProbeMaxEntries, kProbeMaxMiB) == ZIPTOOL_FAILED) {
        outcome.status = ZipStatus::Failed;
        outcome.code = GetLastError();
    }
    return outcome;
}

}  // namespace tarnwick::archive
