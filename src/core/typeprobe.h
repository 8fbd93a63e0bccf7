// The file type probe's decision over the bytes of a file: "STRING" for plain text named .txt,
// otherwise the first 15 bytes as hex text, and whether those bytes open a zip archive (which the
// caller then unpacks to tell a workbook from other zip files).
#pragma once

#include <cstddef>
#include <string>

namespace probe {

constexpr std::size_t kHeadLength = 15;
constexpr char kText[] = "STRING";
constexpr char kWorkbook[] = "MSEXCEL";

// Bounds of the unpacking that tells a workbook from other zip archives: a workbook has a few
// hundred parts at most, and the probe must answer within seconds whatever a page hands it.
constexpr unsigned int kMaxArchiveEntries = 1000;
constexpr unsigned int kMaxArchiveMiB = 256;

// Sequential bytes of a file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills up to capacity bytes and returns how many; 0 at the end (or on a read error).
    virtual std::size_t Read(unsigned char* buffer, std::size_t capacity) = 0;
};

// The last four characters (code units) of a path, all of it when shorter: the extension the
// probe goes by. For narrow, wide and UTF-16 paths alike.
template <typename String>
String Extension(const String& path) {
    return path.size() > 4 ? path.substr(path.size() - 4) : path;
}

// True when the (already lower-cased) path ends in ".txt": such a file is scanned as text.
template <typename String>
bool IsTextName(const String& lowerPath) {
    const String extension = Extension(lowerPath);
    return extension.size() == 4 && extension[0] == '.' && extension[1] == 't' && extension[2] == 'x' &&
           extension[3] == 't';
}

// Plain text holds no byte from 1 to 8 (zero, tabs, line breaks and everything from 9 up are
// fine). Reads the source to its end or to the first such byte.
bool IsPlainText(ByteSource& source);

// Up to the first 15 bytes as upper-case hex.
std::string HeadHex(ByteSource& source);

// True when a head in hex starts with the local-header signature of a zip archive.
bool IsZipHead(const std::string& headHex);

}  // namespace probe
