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

int CTarnwickCtrl::ZipFile(const std::string& source, const std::string& archiveName,
                           const std::string& archiveDirectory) {
    CTarnwickApp& app = TarnwickApp();
    if (app.QueryFileSize(source, m_strLastError) <= kMinimumArchivableSize) return -1;

    std::string libraryPath = app.GetModuleDirectory() + "ziptool.dll";
    tarnwick::UniqueModule library(LoadLibraryA(libraryPath.c_str()));
    if (!library) {
        m_strLastError = app.GetSystemErrorText();
        return -1;
    }
    auto zip = reinterpret_cast<FileToZipFileProc>(GetProcAddress(library.get(), "FileToZipFile"));
    if (!zip) {
        library.reset();
        m_strLastError = msg::kZipExportMissing;
        return -1;
    }
    std::vector<char> src = Writable(source), name = Writable(archiveName),
                      dir = Writable(archiveDirectory);
    int result = zip(src.data(), name.data(), dir.data());
    return result;
}

int CTarnwickCtrl::UnzipFile(const std::string& archive, const std::string& directory,
                             unsigned int* count) {
    CTarnwickApp& app = TarnwickApp();
    if (app.QueryFileSize(archive, m_strLastError) <= kMinimumArchivableSize) return -1;

    std::string libraryPath = app.GetModuleDirectory() + "ziptool.dll";
    tarnwick::UniqueModule library(LoadLibraryA(libraryPath.c_str()));
    if (!library) {
        m_strLastError = app.GetSystemErrorText();
        return -1;
    }
    auto unzip = reinterpret_cast<ExtractFileToPathProc>(
        GetProcAddress(library.get(), "ExtractFileToPath"));
    if (!unzip) {
        library.reset();
        m_strLastError = msg::kUnzipExportMissing;
        return -1;
    }
    std::vector<char> dir = Writable(directory);
    int result = unzip(archive.c_str(), dir.data(), count);
    library.reset();
    if (result == -1)
        m_strLastError = tarnwick::Format(msg::kUnzipFailed, app.GetSystemErrorText().c_str());
    return result;
}
