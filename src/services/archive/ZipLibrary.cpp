#include "archive/ZipLibrary.h"
#include "fileservices/TempArea.h"
#include "framework/Companion.h"
#include "ziptool/ziptool.h"
#include <vector>

namespace tarnwick::archive {
namespace {

Companion g_library("ziptool.dll");

// The library wants writable strings.
std::vector<char> Writable(const std::string& text) {
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

// The size query that comes first, and the 40-byte rule on the whole size.
bool LargeEnough(const std::string& path, ZipOutcome& outcome) {
    outcome.size = files::QueryFileSize(path);
    if (!outcome.size.openFailed && outcome.size.fullSize > static_cast<unsigned long long>(kMinimumArchivableSize))
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

ZipOutcome PackFile(const std::string& source, const std::string& name, const std::string& directory) {
    ZipOutcome outcome;
    if (!LargeEnough(source, outcome)) return outcome;
    auto zip = Export<FileToZipFileProc>("FileToZipFile", outcome);
    if (!zip) return outcome;
    std::vector<char> src = Writable(source), file = Writable(name), dir = Writable(directory);
    if (zip(src.data(), file.data(), dir.data()) == ZIPTOOL_FAILED) {
        outcome.status = ZipStatus::Failed;
        outcome.code = GetLastError();
    }
    return outcome;
}

ZipOutcome UnpackArchive(const std::string& archive, const std::string& directory) {
    ZipOutcome outcome;
    if (!LargeEnough(archive, outcome)) return outcome;
    auto unzip = Export<ExtractFileToPathBoundedProc>("ExtractFileToPathBounded", outcome);
    if (!unzip) return outcome;
    std::vector<char> dir = Writable(directory);
    if (unzip(archive.c_str(), dir.data(), &outcome.count, kProbeMaxEntries, kProbeMaxMiB) == ZIPTOOL_FAILED) {
        outcome.status = ZipStatus::Failed;
        outcome.code = GetLastError();
    }
    return outcome;
}

}  // namespace tarnwick::archive
