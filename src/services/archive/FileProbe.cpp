#include "archive/FileProbe.h"
#include "fileservices/TempArea.h"
#include "framework/NarrowString.h"
#include "typeprobe.h"
#include <cstdio>
#include <cstring>
#include <memory>

namespace tarnwick::archive {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using UniqueStdFile = std::unique_ptr<FILE, FileCloser>;

class StdFileSource : public probe::ByteSource {
public:
    explicit StdFileSource(FILE* file) : file_(file) {}
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        return fread(buffer, 1, capacity, file_);
    }
private:
    FILE* file_;
};

// The extension text goes into a directory name: characters that would separate path
// components or name a drive or stream are replaced, so the name stays one component.
std::string AsNameComponent(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || strchr("\\/:*?\"<>|", c)) c = '_';
    }
    return out;
}

}  // namespace

ProbeOutcome ProbeFile(const std::string& path) {
    ProbeOutcome outcome;
    std::string& result = outcome.result;
    const bool textMode = probe::IsTextName(path);
    if (textMode) result = probe::kText;

    try {
        UniqueStdFile file(fopen(path.c_str(), "rb"));
        if (!file) {
            outcome.status = ProbeStatus::OpenFailed;
            outcome.code = GetLastError();
            return outcome;
        }
        StdFileSource source(file.get());
        if (textMode) {
            if (!probe::IsPlainText(source)) result.clear();
        } else {
            result = probe::HeadHex(source);
        }
        file.reset();

        if (textMode && result == probe::kText) return outcome;

        if (probe::IsZipHead(result)) {
            std::string temp;
            if (!files::TempDirectory(temp)) {
                outcome.status = ProbeStatus::NoTempDirectory;
                return outcome;
            }
            std::string directory =
                temp + Format("%s%d_%s", AsNameComponent(probe::Extension(path)).c_str(),
                       static_cast<int>(GetCurrentThreadId()), files::MakeUniqueName().c_str());
            // Never unpack anywhere but below the temporary directory.
            if (!files::IsInTempDirectory(directory)) return outcome;
            outcome.unpacked = true;
            outcome.unpack = UnpackArchive(path, directory);
            if (outcome.unpack.status == ZipStatus::Done) {
                if (outcome.unpack.count > 0 &&
                    GetFileAttributesA((directory + "\\xl\\workbook.xml").c_str()) !=
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
