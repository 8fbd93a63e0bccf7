// libFuzzer target: any input must extract cleanly or fail cleanly, within the bounds, without
// touching the file system (the target only counts what it would write).
#include "posix_zip_io.h"
#include "zipcore.h"

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
    return 0;
}
