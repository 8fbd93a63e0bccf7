#include "archive/FileProbe.h"
#include "fileservices/TempArea.h"
#include "framework/Strings.h"
#include "typeprobe.h"
#include "Owners.h"
#include "Paths.h"
#include <cwchar>

namespace tarnwick::archive {
namespace {

class FileSource : public probe::ByteSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {}
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        DWORD got = 0;
        return ReadFile(file_, buffer, static_cast<DWORD>(capacity), &got, nullptr) ? got : 0;
    }
private:
    HANDLE file_;
};

// The extension text goes into a directory name: characters that would separate path
// components or name a drive or stream are replaced, so the name stays one component.
std::wstring AsNameComponent(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out) {
        if (c < 0x20 || wcschr(L"\\/:*?\"<>|", c)) c = L'_';
    }
    return out;
}

}  // namespace

ProbeOutcome ProbeFile(const std::wstring& path) {
    ProbeOutcome outcome;
    std::string& result = outcome.result;
    const bool textMode = probe::IsTextName(path);
    if (textMode) result = probe::kText;

    try {
        UniqueFile file(CreateFileW(ForFileCalls(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) {
            outcome.status = ProbeStatus::OpenFailed;
            outcome.code = GetLastError();
            return outcome;
        }
        FileSource source(file.get());
        if (textMode) {
            if (!probe::IsPlainText(source)) result.clear();
        } else {
            result = probe::HeadHex(source);
        }
        file.reset();

        if (textMode && result == probe::kText) return outcome;

        if (probe::IsZipHead(result)) {
            std::wstring temp;
            if (!files::TempDirectory(temp)) {
                outcome.status = ProbeStatus::NoTempDirectory;
                return outcome;
            }
            const std::wstring directory = temp + AsNameComponent(probe::Extension(path)) +
                                           std::to_wstring(static_cast<int>(GetCurrentThreadId())) + L"_" +
                                           files::MakeUniqueName();
            // Never unpack anywhere but below the temporary directory.
            if (!files::IsInTempDirectory(directory)) return outcome;
            outcome.unpacked = true;
            outcome.unpack = UnpackArchive(path, directory);
            if (outcome.unpack.status == ZipStatus::Done) {
                if (outcome.unpack.count > 0 &&
                    GetFileAttributesW(ForFileCalls(directory + L"\\xl\\workbook.xml").c_str()) !=
                        INVALID_FILE_ATTRIBUTES)
                    result = probe::kWorkbook;
                files::RemoveDirectoryTree(directory);
            }
        }
    } catch (...) {
        outcome.status = ProbeStatus::Failed;
        outcome.code = GetLastError();
    }
    return outcome;
}

}  // namespace tarnwick::archive
