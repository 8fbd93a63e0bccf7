#include "archive/ZipLibrary.h"
#include "fileservices/TempArea.h"
#include "framework/Owners.h"
#include "ziptool/ziptool.h"
#include <vector>

namespace tarnwick::archive {
namespace {

// The library wants writable strings.
std::vector<char> Writable(const std::string& text) {
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

// Loads the zip library from the control's own directory and looks up one export; the library
// is released with the owner.
FARPROC LoadExport(const char* exportName, UniqueModule& library, ZipOutcome& outcome) {
    std::string path = files::ModuleDirectory() + "ziptool.dll";
    library.reset(LoadLibraryA(path.c_str()));
    if (!library) {
        outcome.status = ZipStatus::LoadFailed;
        outcome.code = GetLastError();
        return nullptr;
    }
    FARPROC entry = GetProcAddress(library.get(), exportName);
    if (!entry) {
        library.reset();
        outcome.status = ZipStatus::ExportMissing;
    }
    return entry;
}

}  // namespace

ZipOutcome PackFile(const std::string& source, const std::string& name, const std::string& directory) {
    ZipOutcome outcome;
    outcome.size = files::QueryFileSize(source);
    if (outcome.size.size <= kMinimumArchivableSize) {
        outcome.status = ZipStatus::TooSmall;
        return outcome;
    }
    UniqueModule library;
    auto zip = reinterpret_cast<FileToZipFileProc>(LoadExport("FileToZipFile", library, outcome));
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
    outcome.size = files::QueryFileSize(archive);
    if (outcome.size.size <= kMinimumArchivableSize) {
        outcome.status = ZipStatus::TooSmall;
        return outcome;
    }
    UniqueModule library;
    auto unzip = reinterpret_cast<ExtractFileToPathProc>(LoadExport("ExtractFileToPath", library, outcome));
    if (!unzip) return outcome;
    std::vector<char> dir = Writable(directory);
    int result = unzip(archive.c_str(), dir.data(), &outcome.count);
    library.reset();
    // The reason is read after the library is released, as the system then reports it.
    if (result == ZIPTOOL_FAILED) {
        outcome.status = ZipStatus::Failed;
        outcome.code = GetLastError();
    }
    return outcome;
}

}  // namespace tarnwick::archive
