// Platform-neutral zip format core of the zip companion: writes a one-entry archive, extracts
// whole archives and inspects them without extracting, over small byte-source, byte-sink and extraction-target interfaces. The
// Windows DLL (ziptool.cpp) and the Linux-native tests each provide their own implementations
// of those interfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zipcore {

// Every status once: its name, and the system error code the zip companion reports for it (the
// Windows constant beside it). ReadFailed and WriteFailed go by the I/O side's own error where it
// has one. The page SDK's table of codes is generated from these lines (tools/messages.py).
#define ZIPCORE_STATUSES(X)                                                                        \
    X(Ok, "ok", 0)                               /* ERROR_SUCCESS */                               \
    X(ReadFailed, "read failed", 31)             /* ERROR_GEN_FAILURE: the byte source failed */   \
    X(WriteFailed, "write failed", 31)           /* ERROR_GEN_FAILURE: the sink or target failed */ \
    X(OutOfMemory, "out of memory", 8)           /* ERROR_NOT_ENOUGH_MEMORY: zlib had no state */  \
    X(NotAnArchive, "not an archive", 1392)      /* ERROR_FILE_CORRUPT: no end record, or
                                                    directory records that do not hold together */ \
    X(Corrupt, "corrupt entry data", 1392)       /* ERROR_FILE_CORRUPT: no inflate, or ends early */ \
    X(CrcMismatch, "CRC mismatch", 23)           /* ERROR_CRC */                                   \
    X(SizeMismatch, "size mismatch", 1392)       /* ERROR_FILE_CORRUPT: inflated size differs */   \
    X(UnsafeName, "unsafe name", 123)            /* ERROR_INVALID_NAME: could leave the target
                                                    directory, or Windows would alter it */        \
    X(Unsupported, "unsupported", 50)            /* ERROR_NOT_SUPPORTED: encryption, method,
                                                    symbolic link, multi-disk archive */           \
    X(TooManyEntries, "too many entries", 223)   /* ERROR_FILE_TOO_LARGE */                        \
    X(TooLarge, "too large", 223)                /* ERROR_FILE_TOO_LARGE: more inflated bytes than
                                                    one extraction may produce */                  \
    X(SourceChanged, "source changed", 1006)     /* ERROR_FILE_INVALID: the file being packed did
                                                    not have the size it announced */              \
    X(CompressFailed, "compression failed", 1359) /* ERROR_INTERNAL_ERROR: zlib refused a call for
                                                     another reason than memory */

enum class Status {
#define ZIPCORE_STATUS_ENUM(name, text, code) name,
    ZIPCORE_STATUSES(ZIPCORE_STATUS_ENUM)
#undef ZIPCORE_STATUS_ENUM
};

const char* describe(Status status);
// The system error code the zip companion reports for a status.
std::uint32_t systemErrorCode(Status status);

// Files of this many bytes or fewer are neither packed nor unpacked.
constexpr std::uint64_t kMinimumArchivableSize = 40;
constexpr bool isArchivableSize(std::uint64_t size) { return size > kMinimumArchivableSize; }

// ---- writing ---------------------------------------------------------------------------------

// Sequential input that can start over (used when deflate does not shrink the data).
class RewindableSource {
public:
    virtual ~RewindableSource() = default;
    // Fills up to `capacity` bytes; `got` == 0 means end of data.
    virtual bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) = 0;
    virtual bool rewind() = 0;
};

// A new, initially empty output file.
class ArchiveSink {
public:
    virtual ~ArchiveSink() = default;
    virtual bool append(const std::uint8_t* data, std::size_t length) = 0;
    // Rewrites bytes already appended; later appends continue at the end.
    virtual bool overwriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t length) = 0;
    // Drops everything from `offset` on; later appends continue there.
    virtual bool truncateTo(std::uint64_t offset) = 0;
};

struct NewEntry {
    std::string storedName;   // bytes as they go into the archive
    bool utf8Name = false;    // sets general-purpose flag bit 11
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint64_t size = 0;   // size of the source; a different amount of data fails the write
};

// Writes an archive holding one entry: raw deflate at level 6, or stored when deflate does not
// shrink the data. Zip64 fields are written where sizes or offsets need them.
Status writeSingleEntryArchive(RewindableSource& source, const NewEntry& entry, ArchiveSink& sink);

// ---- reading ---------------------------------------------------------------------------------

class RandomAccessSource {
public:
    virtual ~RandomAccessSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly `length` bytes at `offset`; false on error or short read.
    virtual bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) = 0;
};

struct FileDetails {
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    bool readOnly = false;
};

class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual bool write(const std::uint8_t* data, std::size_t length) = 0;
    // Called once all data is written and verified.
    virtual bool finish(const FileDetails& details) = 0;
};

using PathParts = std::vector<std::u16string>;

class NameDecoder {
public:
    virtual ~NameDecoder() = default;
    // Turns a stored name into UTF-16: from UTF-8 when `utf8`, else from the legacy code page.
    virtual bool decodeName(const std::string& raw, bool utf8, std::u16string& name) = 0;
};

// The directory an archive is extracted into. Paths handed to it are relative to its root and
// have already passed the name checks of entryname.h.
class ExtractionTarget : public NameDecoder {
public:
    // Creates the root directory itself; fails when it already exists.
    virtual bool createRoot() = 0;
    // Removes the root and everything below it.
    virtual void removeRoot() = 0;
    // Creates parts[0], parts[0]/parts[1], ... up to `depth` levels; existing directories are fine.
    virtual bool makeDirectories(const PathParts& parts, std::size_t depth) = 0;
    // Creates a new file (never replaces one); nullptr on failure.
    virtual std::unique_ptr<OutputFile> createFile(const PathParts& parts) = 0;
};

struct Limits {
    std::uint64_t maxEntries;
    std::uint64_t maxInflatedBytes;
};
// Bounds of one extraction unless the caller sets its own.
inline constexpr std::uint64_t kMaxEntries = 65536;                  // entries in one archive
inline constexpr std::uint64_t kMaxInflatedBytes = 1ull << 30;       // bytes inflated, all entries
Limits defaultLimits();

// Extracts every entry below a freshly created root. The whole central directory is checked
// before the root is created; any failure afterwards removes the root again, so on failure the
// target holds nothing. `filesWritten` counts regular files (not directories) on success.
Status extractArchive(RandomAccessSource& archive, ExtractionTarget& target, const Limits& limits,
                      std::uint32_t& filesWritten);

// Makes every check extractArchive makes before and while it writes, short of inflating: the
// directory, each name, each local header, the entry count, and the declared sizes against the
// byte bound (CRCs and the deflate streams themselves are not looked at). `files` gets the path
// of every regular file the archive would give. Needs no compression library.
Status inspectArchive(RandomAccessSource& archive, NameDecoder& names, const Limits& limits,
                      std::vector<PathParts>& files);

}  // namespace zipcore
