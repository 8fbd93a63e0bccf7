// libFuzzer target: any input must extract cleanly or fail cleanly, within the bounds, without
// touching the file system (the target only counts what it would write).
#include "posix_zip_io.h"
#include "inflate.h"
#include "zipcore.h"
#include "ziplisting.h"

#include <cstdlib>
#include <cstring>

namespace {

class MemoryArchive : public zipcore::RandomAccessSource {
public:
    MemoryArchive(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (offset > size_ || length > size_ - offset) return false;
        std::memcpy(buffer, data_ + offset, length);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

class CountingFile : public zipcore::OutputFile {
public:
    explicit CountingFile(std::uint64_t& written) : written_(written) {}
    bool write(const std::uint8_t*, std::size_t length) override {
        written_ += length;
        return true;
    }
    bool finish(const zipcore::FileDetails&) override { return true; }

private:
    std::uint64_t& written_;
};

class CountingTarget : public zipcore::ExtractionTarget {
public:
    bool decodeName(const std::string& raw, bool utf8, std::u16string& name) override {
        return ziptest::decodeEntryName(raw, utf8, name);
    }
    bool createRoot() override { return !rootExists; }
    void removeRoot() override { rootRemoved = true; }
    bool makeDirectories(const zipcore::PathParts& parts, std::size_t depth) override {
        return depth <= parts.size();
    }
    std::unique_ptr<zipcore::OutputFile> createFile(const zipcore::PathParts&) override {
        return std::make_unique<CountingFile>(written);
    }
    bool rootExists = false;
    bool rootRemoved = false;
    std::uint64_t written = 0;
};

class EntryBytes : public rawinflate::InflateInput {
public:
    EntryBytes(zipcore::RandomAccessSource& source, std::uint64_t offset, std::uint64_t length)
        : source_(source), offset_(offset), left_(length) {}
    long read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t n = static_cast<std::size_t>(left_ < capacity ? left_ : capacity);
        if (n && !source_.readAt(offset_, buffer, n)) return -1;
        offset_ += n;
        left_ -= n;
        return static_cast<long>(n);
    }

private:
    zipcore::RandomAccessSource& source_;
    std::uint64_t offset_, left_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryArchive archive(data, size);
    CountingTarget target;
    const zipcore::Limits limits{256, 8 << 20};
    std::uint32_t files = 0;
    const zipcore::Status status = zipcore::extractArchive(archive, target, limits, files);
    if (target.written > limits.maxInflatedBytes) std::abort();
    if (status == zipcore::Status::Ok && target.rootRemoved) std::abort();
    if (status != zipcore::Status::Ok && files != 0) std::abort();

    // The page's reader over the same bytes: the listing, then every entry located and inflated
    // within its declared size.
    zipcore::Listing listing;
    if (zipcore::listArchive(archive, listing) != zipcore::ReadStatus::Ok) return 0;
    if (listing.directoryOffset + listing.directorySize > size) std::abort();
    for (const zipcore::ListedEntry& entry : listing.entries) {
        std::uint64_t dataOffset = 0;
        if (zipcore::checkReadable(entry.central) != zipcore::ReadStatus::Ok ||
            zipcore::locateEntry(archive, entry, dataOffset) != zipcore::ReadStatus::Ok)
            continue;
        if (dataOffset + entry.central.compressedSize > entry.spanLimit) std::abort();
        if (entry.central.method == zipcore::kMethodStored) continue;
        EntryBytes input(archive, dataOffset, entry.central.compressedSize);
        rawinflate::Inflater inflater(input, entry.central.method == zipcore::kMethodDeflate64,
                                      entry.central.size < (8u << 20) ? entry.central.size : (8u << 20));
        std::uint8_t out[4096];
        std::uint64_t total = 0;
        rawinflate::Result r;
        do {
            std::size_t got = 0;
            r = inflater.read(out, sizeof out, got);
            total += got;
        } while (r == rawinflate::Result::More);
        if (total > entry.central.size) std::abort();
    }
    return 0;
}
