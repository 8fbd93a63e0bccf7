// Records of an archive of many entries.
#include "ziparchive.h"

#include "names.h"
#include "zipbytes.h"

namespace zipcore {
namespace {

constexpr std::uint16_t kVersionPlain = 20;   // 2.0: deflate, folders
constexpr std::uint16_t kVersionZip64 = 45;   // 4.5: Zip64 extensions
constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;
constexpr std::uint32_t kDirectoryAttribute = 0x10;  // MS-DOS attributes: a folder
constexpr std::uint64_t kMaxPlainEntries = 0xFFFF;

bool isSeparator(char16_t c) { return c == u'/' || c == u'\\'; }
bool isLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool isBadCharacter(char16_t c) {
    if (c < 0x20 || c == 0x7F) return true;
    for (const char* bad = "<>\"|?*"; *bad; ++bad)
        if (c == static_cast<char16_t>(*bad)) return true;
    return false;
}

ArchiveNameProblem checkComponent(const std::u16string& component) {
    if (component.empty()) return ArchiveNameProblem::Empty;
    if (component == u"." || component == u"..") return ArchiveNameProblem::DotComponent;
    for (char16_t c : component)
        if (isBadCharacter(c)) return ArchiveNameProblem::BadCharacter;
    if (names::IsReservedDeviceName(component)) return ArchiveNameProblem::Device;
    if (component.back() == u'.' || component.back() == u' ') return ArchiveNameProblem::TrailingDot;
    return ArchiveNameProblem::None;
}

bool sizeNeedsZip64(std::uint64_t value) { return value >= kNeedsZip64; }

std::uint16_t entryFlags(const ArchiveEntry& entry) {
    return static_cast<std::uint16_t>((entry.utf8Name ? kFlagUtf8Name : 0) |
                                      (entry.descriptor ? kFlagDataDescriptor : 0));
}

std::uint32_t field32(std::uint64_t value) {
    return sizeNeedsZip64(value) ? kNeedsZip64 : static_cast<std::uint32_t>(value);
}

}  // namespace

ArchiveNameProblem checkArchiveName(const std::u16string& name) {
    if (name.empty()) return ArchiveNameProblem::Empty;
    if (isSeparator(name.front())) return ArchiveNameProblem::Absolute;
    if (name.size() >= 2 && name[1] == u':' && isLetter(name[0])) return ArchiveNameProblem::Drive;
    if (name.find(u':') != std::u16string::npos) return ArchiveNameProblem::Stream;
    const std::size_t end = isSeparator(name.back()) ? name.size() - 1 : name.size();
    for (std::size_t start = 0;;) {
        std::size_t stop = start;
        while (stop < end && !isSeparator(name[stop])) ++stop;
        const ArchiveNameProblem problem = checkComponent(name.substr(start, stop - start));
        if (problem != ArchiveNameProblem::None) return problem;
        if (stop >= end) return ArchiveNameProblem::None;
        start = stop + 1;
    }
}

bool descriptorNeedsZip64(std::uint64_t size) {
    return sizeNeedsZip64(size) || sizeNeedsZip64(size + size / 1024 + 1024);
}

std::vector<std::uint8_t> entryLocalHeader(const ArchiveEntry& entry) {
    RecordBuilder r;
    bool zip64;
    std::uint32_t crc, compressed, size;
    if (entry.descriptor) {
        zip64 = entry.zip64Local;
        crc = 0;
        compressed = size = zip64 ? kNeedsZip64 : 0;
    } else {
        zip64 = sizeNeedsZip64(entry.size) || sizeNeedsZip64(entry.compressedSize);
        crc = entry.crc;
        compressed = zip64 ? kNeedsZip64 : static_cast<std::uint32_t>(entry.compressedSize);
        size = zip64 ? kNeedsZip64 : static_cast<std::uint32_t>(entry.size);
    }
    r.u32(kLocalHeaderSignature)
        .u16(zip64 ? kVersionZip64 : kVersionPlain)
        .u16(entryFlags(entry))
        .u16(entry.method)
        .u16(entry.dosTime)
        .u16(entry.dosDate)
        .u32(crc)
        .u32(compressed)
        .u32(size)
        .u16(static_cast<std::uint16_t>(entry.storedName.size()))
        .u16(zip64 ? 20 : 0)
        .text(entry.storedName);
    // In a local header the Zip64 extra holds both sizes (zeros until the descriptor gives them).
    if (zip64) {
        r.u16(kZip64ExtraId).u16(16);
        if (entry.descriptor) r.u64(0).u64(0);
        else r.u64(entry.size).u64(entry.compressedSize);
    }
    return r.bytes();
}

std::vector<std::uint8_t> entryDataDescriptor(const ArchiveEntry& entry) {
    RecordBuilder r;
    r.u32(kDataDescriptorSignature).u32(entry.crc);
    if (entry.zip64Local) r.u64(entry.compressedSize).u64(entry.size);
    else r.u32(static_cast<std::uint32_t>(entry.compressedSize)).u32(static_cast<std::uint32_t>(entry.size));
    return r.bytes();
}

void appendCentralHeader(const ArchiveEntry& entry, std::vector<std::uint8_t>& directory) {
    // The Zip64 extra of a central record holds only the values whose field says "see Zip64",
    // in this order: size, compressed size, offset.
    RecordBuilder extra;
    if (sizeNeedsZip64(entry.size)) extra.u64(entry.size);
    if (sizeNeedsZip64(entry.compressedSize)) extra.u64(entry.compressedSize);
    if (sizeNeedsZip64(entry.offset)) extra.u64(entry.offset);
    const std::size_t extraLength = extra.bytes().size();
    const std::uint16_t version = extraLength > 0 || entry.zip64Local ? kVersionZip64 : kVersionPlain;
    RecordBuilder r;
    r.u32(kCentralHeaderSignature)
        .u16(version)  // made by: MS-DOS attributes
        .u16(version)
        .u16(entryFlags(entry))
        .u16(entry.method)
        .u16(entry.dosTime)
        .u16(entry.dosDate)
        .u32(entry.crc)
        .u32(field32(entry.compressedSize))
        .u32(field32(entry.size))
        .u16(static_cast<std::uint16_t>(entry.storedName.size()))
        .u16(static_cast<std::uint16_t>(extraLength > 0 ? extraLength + 4 : 0))
        .u16(0)   // comment length
        .u16(0)   // disk number start
        .u16(0)   // internal attributes
        .u32(entry.directory ? kDirectoryAttribute : 0)
        .u32(field32(entry.offset))
        .text(entry.storedName);
    if (extraLength > 0) r.u16(kZip64ExtraId).u16(static_cast<std::uint16_t>(extraLength));
    const std::vector<std::uint8_t>& head = r.bytes();
    directory.insert(directory.end(), head.begin(), head.end());
    directory.insert(directory.end(), extra.bytes().begin(), extra.bytes().end());
}

std::vector<std::uint8_t> archiveEndRecords(std::uint64_t count, std::uint64_t directoryOffset,
                                            std::uint64_t directorySize) {
    RecordBuilder r;
    const bool zip64 = count > kMaxPlainEntries || sizeNeedsZip64(directoryOffset) ||
                       sizeNeedsZip64(directorySize);
    if (zip64) {
        const std::uint64_t zip64RecordOffset = directoryOffset + directorySize;
        r.u32(kZip64EndRecordSignature)
            .u64(kZip64EndRecordSize - 12)
            .u16(kVersionZip64)
            .u16(kVersionZip64)
            .u32(0)   // this disk
            .u32(0)   // disk with the central directory
            .u64(count)
            .u64(count)
            .u64(directorySize)
            .u64(directoryOffset);
        r.u32(kZip64LocatorSignature).u32(0).u64(zip64RecordOffset).u32(1);
    }
    const std::uint16_t count16 = count > kMaxPlainEntries ? 0xFFFF : static_cast<std::uint16_t>(count);
    r.u32(kEndRecordSignature)
        .u16(0)
        .u16(0)
        .u16(count16)
        .u16(count16)
        .u32(field32(directorySize))
        .u32(field32(directoryOffset))
        .u16(0);
    return r.bytes();
}

}  // namespace zipcore
