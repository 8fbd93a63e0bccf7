// Binding to the zip library kept beside the control, loaded afresh for every call.
#include "archive/Messages.h"
#include "control/TarnwickApp.h"
#include "control/TarnwickCtrl.h"
#include "framework/NarrowString.h"
#include "framework/Owners.h"
#include "ziptool/ziptool.h"
#include <vector>

namespace {

// The library wants writable strings.
std::vector<char> Writable(const std::string& text) {
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

constexpr long kMinimumArchivableSize = 40;  // files of this size or less are not handled

}  // namespace

namespace {

// Loads the zip library from the control's own directory and looks up one export. On failure
// the error text is set and null returned; the library is released with the owner.
FARPROC LoadZipExport(const char* exportName, const char* missingText,
                      tarnwick::UniqueModule& library, std::string& errorText) {
    CTarnwickApp& app = TarnwickApp();
    std::string libraryPath = app.GetModuleDirectory() + "ziptool.dll";
    library.reset(LoadLibraryA(libraryPath.c_str()));
    if (!library) {
        errorText = app.GetSystemErrorText();
        return nullptr;
    }
    FARPROC entry = GetProcAddress(library.get(), exportName);
    if (!entry) {
        library.reset();
        errorText = missingText;
    }
    return entry;
}

}  // namespace

int CTarnwickCtrl::ZipFile(const std::string& source, const std::string& archiveName,
                           const std::string& archiveDirectory) {
    if (TarnwickApp().QueryFileSize(source, m_strLastError) <= kMinimumArchivableSize) return -1;
    tarnwick::UniqueModule library;
    auto zip = reinterpret_cast<FileToZipFileProc>(
        LoadZipExport("FileToZipFile", msg::kZipExportMissing, library, m_strLastError));
    if (!zip) return -1;
    std::vector<char> src = Writable(source), name = Writable(archiveName),
                      dir = Writable(archiveDirectory);
    return zip(src.data(), name.data(), dir.data());
}

int CTarnwickCtrl::UnzipFile(const std::string& archive, const std::string& directory,
                             unsigned int* count) {
    CTarnwickApp& app = TarnwickApp();
    if (app.QueryFileSize(archive, m_strLastError) <= kMinimumArchivableSize) return -1;
    tarnwick::UniqueModule library;
    auto unzip = reinterpret_cast<ExtractFileToPathProc>(
        LoadZipExport("ExtractFileToPath", msg::kUnzipExportMissing, library, m_strLastError));
    if (!unzip) return -1;
    std::vector<char> dir = Writable(directory);
    int result = unzip(archive.c_str(), dir.data(), count);
    library.reset();
    // The reason is read after the library is released, as the system then reports it.
    if (result == -1)
        m_strLastError = tarnwick::Format(msg::kUnzipFailed, app.GetSystemErrorText().c_str());
    return result;
}
