// The file type probe: "STRING" for plain text, "MSEXCEL" for a workbook in zip form,
// otherwise the first bytes as hex text.
#include "control/TarnwickApp.h"
#include "control/TarnwickCtrl.h"
#include "framework/NarrowString.h"
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr size_t kHeadLength = 15;
constexpr char kZipSignature[] = "504B0304";
constexpr size_t kScanBlock = 1 << 16;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using UniqueStdFile = std::unique_ptr<FILE, FileCloser>;

// Text holds no byte from 1 to 8 (zero, tabs, line breaks and everything from 9 up are fine).
bool IsPlainText(FILE* file) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[kScanBlock]);
    size_t got;
    while ((got = fread(block.get(), 1, kScanBlock, file)) > 0) {
        for (size_t i = 0; i < got; ++i) {
            if (block[i] >= 1 && block[i] <= 8) return false;
        }
    }
    return true;
}

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

std::string CTarnwickCtrl::GetLocalFileHeadSigned(LPCSTR strFilePath) {
    CTarnwickApp& app = TarnwickApp();
    std::string result;
    std::string path = tarnwick::MakeLower(strFilePath ? strFilePath : "");
    std::string extension = path.size() > 4 ? path.substr(path.size() - 4) : path;

    if (ValidateFilePath(path) != 0) return result;
    const bool textMode = (extension == ".txt");
    if (textMode) result = "STRING";

    try {
        UniqueStdFile file(fopen(path.c_str(), "rb"));
        if (!file) {
            m_strLastError = app.GetSystemErrorText();
            return result;
        }
        if (textMode) {
            if (!IsPlainText(file.get())) result.clear();
        } else {
            unsigned char head[kHeadLength];
            size_t got = fread(head, 1, kHeadLength, file.get());
            for (size_t i = 0; i < got; ++i) result += CTarnwickApp::ByteToHex(head[i]);
        }
        file.reset();

        if (textMode && result == "STRING") return result;

        if (result.compare(0, 8, kZipSignature) == 0) {
            std::string directory =
                app.GetTempDirectory() +
                tarnwick::Format("%s%d_%s", AsNameComponent(extension).c_str(),
                                 static_cast<int>(GetCurrentThreadId()),
                                 app.MakeUniqueName().c_str());
            // Never unpack anywhere but below the temporary directory.
            if (!app.IsInTempDirectory(directory)) return result;
            unsigned int count = 0;
            if (UnzipFile(path, directory, &count) == 0) {
                if (count > 0 &&
                    GetFileAttributesA((directory + "\\xl\\workbook.xml").c_str()) !=
                        INVALID_FILE_ATTRIBUTES)
                    result = "MSEXCEL";
                app.RemoveDirectoryTree(directory);
            }
        }
    } catch (...) {
        m_strLastError = app.GetSystemErrorText();
    }
    return result;
}
