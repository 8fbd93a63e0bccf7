// Windows side of ziptool.dll: the two exports, file handles, wide paths and name conversions
// around the platform-neutral core in zipcore.h.
#include "ziptool.h"
#include "zip/zipcore.h"
#include "CodePage.h"
#include "Owners.h"
#include "Paths.h"

#include <windows.h>

#include <new>
#include <string>

namespace {

// ---- strings ----------------------------------------------------------------------------------

constexpr UINT kLegacyNameCodePage = 936;

std::wstring lastPathComponent(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

// The name the entry gets: in code page 936 when every character has a place there (what Chinese
// zip tools expect), otherwise UTF-8 flagged as such.
bool storedNameFor(const std::wstring& sourcePath, zipcore::NewEntry& entry) {
    const std::wstring name = lastPathComponent(sourcePath);
    if (name.empty()) return false;
    bool lossy = true;
    if (tarnwick::FromWide(kLegacyNameCodePage, name, entry.storedName, &lossy) && !lossy) {
        entry.utf8Name = false;
        return true;
    }
    entry.utf8Name = true;
    return tarnwick::FromWide(CP_UTF8, name, entry.storedName);
}

// ---- packing ----------------------------------------------------------------------------------

// A short write counts as a failure (ERROR_WRITE_FAULT).
bool writeFully(HANDLE file, const std::uint8_t* data, std::size_t length) {
    DWORD done = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(length), &done, nullptr)) return false;
    if (done == length) return true;
    SetLastError(ERROR_WRITE_FAULT);
    return false;
}

// Keeps the system's error code of the last call that failed, for the export to report.
class ErrorKeeper {
public:
    DWORD error() const { return error_; }

protected:
    bool remember(BOOL ok) {
        if (!ok) error_ = GetLastError();
        return ok != FALSE;
    }
    DWORD error_ = ERROR_SUCCESS;
};

class SourceFile : public zipcore::RewindableSource, public ErrorKeeper {
public:
    bool open(const std::wstring& path) {
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        return remember(bool(file_));
    }
    bool describe(zipcore::NewEntry& entry) {
        LARGE_INTEGER size{};
        FILETIME written{}, local{};
        if (!remember(GetFileSizeEx(file_.get(), &size) && GetFileTime(file_.get(), nullptr, nullptr, &written) &&
                      FileTimeToLocalFileTime(&written, &local) &&
                      FileTimeToDosDateTime(&local, &entry.dosDate, &entry.dosTime)))
            return false;
        entry.size = static_cast<std::uint64_t>(size.QuadPart);
        return true;
    }
    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) override {
        DWORD done = 0;
        const bool ok = remember(ReadFile(file_.get(), buffer, static_cast<DWORD>(capacity), &done, nullptr));
        got = done;
        return ok;
    }
    bool rewind() override {
        LARGE_INTEGER start{};
        return remember(SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN));
    }
private:
    tarnwick::UniqueFile file_;
};

// A file this call creates; deleted again unless kept.
class NewArchiveFile : public zipcore::ArchiveSink, public ErrorKeeper {
public:
    ~NewArchiveFile() override {
        if (!bool(file_) || kept_) return;
        file_.reset();
        DeleteFileW(path_.c_str());
    }
    bool create(const std::wstring& path) {
        path_ = path;
        file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        return remember(bool(file_));
    }
    bool append(const std::uint8_t* data, std::size_t length) override { return remember(writeFully(file_.get(), data, length)); }
    bool overwriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t length) override {
        LARGE_INTEGER zero{};
        return moveTo(offset) && remember(writeFully(file_.get(), data, length)) &&
               remember(SetFilePointerEx(file_.get(), zero, nullptr, FILE_END));
    }
    bool truncateTo(std::uint64_t offset) override { return moveTo(offset) && remember(SetEndOfFile(file_.get())); }
    bool keep() {
        kept_ = remember(FlushFileBuffers(file_.get()));
        return kept_;
    }
private:
    bool moveTo(std::uint64_t offset) {
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(offset);
        return remember(SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN));
    }
    std::wstring path_;
    tarnwick::UniqueFile file_;
    bool kept_ = false;
};

DWORD packFile(const std::wstring& source, const std::wstring& archivePath) {
    zipcore::NewEntry entry;
    if (!storedNameFor(source, entry)) return ERROR_INVALID_NAME;
    SourceFile input;
    // The long-path form, so that entries deep below the root are reached whatever their length.
    const std::wstring sourceName = tarnwick::LongPathOf(source), archiveName = tarnwick::LongPathOf(archivePath);
    if (sourceName.empty() || archiveName.empty()) return ERROR_PATH_NOT_FOUND;
    if (!input.open(sourceName) || !input.describe(entry)) return input.error();
    NewArchiveFile archive;
    if (!archive.create(archiveName)) return archive.error();
    const zipcore::Status status = zipcore::writeSingleEntryArchive(input, entry, archive);
    if (status == zipcore::Status::ReadFailed) return input.error();
    if (status == zipcore::Status::WriteFailed) return archive.error();
    if (status != zipcore::Status::Ok) return zipcore::systemErrorCode(status);
    return archive.keep() ? ERROR_SUCCESS : archive.error();
}

// ---- extracting -------------------------------------------------------------------------------

class ArchiveFile : public zipcore::RandomAccessSource, public ErrorKeeper {
public:
    bool open(const std::wstring& path) {
        // No sharing for writes: the archive must not change between checking and extracting.
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        if (!remember(bool(file_) && GetFileSizeEx(file_.get(), &size))) return false;
        size_ = static_cast<std::uint64_t>(size.QuadPart);
        return true;
    }
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        if (!remember(ReadFile(file_.get(), buffer, static_cast<DWORD>(length), &done, &at))) return false;
        if (done == length) return true;
        error_ = ERROR_HANDLE_EOF;
        return false;
    }
private:
    tarnwick::UniqueFile file_;
    std::uint64_t size_ = 0;
};

class ExtractedFile : public zipcore::OutputFile {
public:
    ExtractedFile(std::wstring path, HANDLE handle, DWORD& error)
        : path_(std::move(path)), file_(handle), error_(error) {}
    bool write(const std::uint8_t* data, std::size_t length) override {
        return remember(writeFully(file_.get(), data, length));
    }
    bool finish(const zipcore::FileDetails& details) override {
        FILETIME local{}, written{};
        if (DosDateTimeToFileTime(details.dosDate, details.dosTime, &local) &&
            LocalFileTimeToFileTime(&local, &written))
            SetFileTime(file_.get(), nullptr, nullptr, &written);  // a bad stored time is not fatal
        file_.reset();
        return !details.readOnly || remember(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY));
    }

private:
    bool remember(BOOL ok) {
        if (!ok) error_ = GetLastError();
        return ok != FALSE;
    }
    std::wstring path_;
    tarnwick::UniqueFile file_;
    DWORD& error_;
};

bool isPlainDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

class DirectoryTarget : public zipcore::ExtractionTarget, public ErrorKeeper {
public:
    explicit DirectoryTarget(std::wstring root) : root_(std::move(root)) {}

    bool decodeName(const std::string& raw, bool utf8, std::u16string& name) override {
        std::wstring wide;
        if (!tarnwick::ToWide(utf8 ? CP_UTF8 : kLegacyNameCodePage, raw, wide, true)) return false;
        name.assign(wide.begin(), wide.end());
        return true;
    }
    bool createRoot() override { return remember(CreateDirectoryW(root_.c_str(), nullptr)); }
    void removeRoot() override { tarnwick::RemoveTree(root_); }
    bool makeDirectories(const zipcore::PathParts& parts, std::size_t depth) override {
        std::wstring path = root_;
        for (std::size_t i = 0; i < depth; ++i) {
            path += L"\\" + std::wstring(parts[i].begin(), parts[i].end());
            if (CreateDirectoryW(path.c_str(), nullptr)) continue;
            const DWORD error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS && isPlainDirectory(path)) continue;
            error_ = error;
            return false;
        }
        return true;
    }
    std::unique_ptr<zipcore::OutputFile> createFile(const zipcore::PathParts& parts) override {
        const std::wstring path = pathOf(parts);
        const HANDLE handle =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (!remember(handle != INVALID_HANDLE_VALUE)) return nullptr;
        return std::make_unique<ExtractedFile>(path, handle, error_);
    }
private:
    std::wstring pathOf(const zipcore::PathParts& parts) const {
        std::wstring path = root_;
        for (const std::u16string& part : parts) path += L"\\" + std::wstring(part.begin(), part.end());
        return path;
    }
    std::wstring root_;
};

DWORD extractToNewDirectory(const std::wstring& archivePath, const std::wstring& requested,
                            const zipcore::Limits& limits, unsigned int& count) {
    const std::wstring root = requested.empty() ? std::wstring() : tarnwick::LongPathOf(requested);
    if (root.empty()) return ERROR_PATH_NOT_FOUND;
    ArchiveFile archive;
    if (!archive.open(archivePath)) return archive.error();
    DirectoryTarget target(root);
    std::uint32_t written = 0;
    const zipcore::Status status = zipcore::extractArchive(archive, target, limits, written);
    if (status == zipcore::Status::ReadFailed) return archive.error();
    if (status == zipcore::Status::WriteFailed) return target.error();
    if (status != zipcore::Status::Ok) return zipcore::systemErrorCode(status);
    count = written;
    return ERROR_SUCCESS;
}

// Runs one export's work: no exception leaves the DLL, and the last error is set after all
// clean-up has run.
template <typename Work>
int runExport(Work work) {
    DWORD error = ERROR_SUCCESS;
    try {
        error = work();
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        error = ERROR_GEN_FAILURE;
    }
    if (error == ERROR_SUCCESS) return ZIPTOOL_SUCCEEDED;
    SetLastError(error);
    return ZIPTOOL_FAILED;
}

// The narrow exports take paths in the ANSI code page of the process.
DWORD narrowPaths(const char* first, const char* second, std::wstring& wideFirst, std::wstring& wideSecond) {
    return tarnwick::ToWide(CP_ACP, first, wideFirst, true) && tarnwick::ToWide(CP_ACP, second, wideSecond, true)
               ? ERROR_SUCCESS
               : ERROR_NO_UNICODE_TRANSLATION;
}

zipcore::Limits boundedLimits(unsigned int maxEntries, unsigned int maxMiB) {
    zipcore::Limits limits = zipcore::defaultLimits();
    if (maxEntries < limits.maxEntries) limits.maxEntries = maxEntries;
    const std::uint64_t maxBytes = static_cast<std::uint64_t>(maxMiB) << 20;
    if (maxBytes < limits.maxInflatedBytes) limits.maxInflatedBytes = maxBytes;
    return limits;
}

}  // namespace

extern "C" int __stdcall FileToZipFile(char* srcPath, char* zipName, char* zipDir) {
    if (!srcPath || !zipName || !zipDir) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ZIPTOOL_FAILED;
    }
    return runExport([&] {
        std::wstring source, archive;
        const DWORD error = narrowPaths(srcPath, (std::string(zipDir) + zipName).c_str(), source, archive);
        return error != ERROR_SUCCESS ? error : packFile(source, archive);
    });
}

extern "C" int __stdcall ZipFileW(const wchar_t* srcPath, const wchar_t* zipName, const wchar_t* zipDir) {
    if (!srcPath || !zipName || !zipDir) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ZIPTOOL_FAILED;
    }
    return runExport([&] { return packFile(srcPath, std::wstring(zipDir) + zipName); });
}

namespace {

int extractExport(const std::wstring& archive, const std::wstring& directory, unsigned int* count,
                  const zipcore::Limits& limits) {
    unsigned int written = 0;
    const int result = runExport([&] { return extractToNewDirectory(archive, directory, limits, written); });
    *count = written;
    return result;
}

// The narrow extraction exports: paths in the ANSI code page.
int extractNarrow(const char* zipPath, const char* destDir, unsigned int* count, const zipcore::Limits& limits) {
    if (!zipPath || !destDir || !count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ZIPTOOL_FAILED;
    }
    std::wstring archive, directory;
    if (narrowPaths(zipPath, destDir, archive, directory) != ERROR_SUCCESS) {
        *count = 0;
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return ZIPTOOL_FAILED;
    }
    return extractExport(archive, directory, count, limits);
}

}  // namespace

extern "C" int __stdcall ExtractFileToPath(const char* zipPath, char* destDir, unsigned int* count) {
    return extractNarrow(zipPath, destDir, count, zipcore::defaultLimits());
}

extern "C" int __stdcall ExtractFileToPathBounded(const char* zipPath, char* destDir, unsigned int* count,
                                                  unsigned int maxEntries, unsigned int maxMiB) {
    return extractNarrow(zipPath, destDir, count, boundedLimits(maxEntries, maxMiB));
}

extern "C" int __stdcall UnzipFileW(const wchar_t* zipPath, const wchar_t* destDir, unsigned int* count,
                                    unsigned int maxEntries, unsigned int maxMiB) {
    if (!zipPath || !destDir || !count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ZIPTOOL_FAILED;
    }
    return extractExport(zipPath, destDir, count, boundedLimits(maxEntries, maxMiB));
}
