#include "digest/FileDigest.h"
#include "hashclass.h"
#include "hex.h"
#include "Owners.h"
#include "readahead.h"
#include "Paths.h"

#include <cstddef>
#include <memory>

namespace tarnwick::hashing {
namespace {

// A context of one kind, in memory of its own.
class Digest {
public:
    explicit Digest(int kind)
        : class_(::digest::HashAt(kind)),
          memory_(new std::max_align_t[(class_->contextSize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)]) {
        class_->init(memory_.get());
    }
    ~Digest() { class_->destroy(memory_.get()); }
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void Update(const unsigned char* data, size_t length) { class_->update(memory_.get(), data, length); }
    std::string FinalHex() {
        std::unique_ptr<unsigned char[]> bytes(new unsigned char[class_->digestSize]);
        class_->final(memory_.get(), bytes.get());
        return hex::Upper(bytes.get(), class_->digestSize);
    }

private:
    const ::digest::HashClass* class_;
    std::unique_ptr<std::max_align_t[]> memory_;
};

}  // namespace

FileDigest DigestOfFile(int kind, const std::wstring& path) {
    FileDigest outcome;
    UniqueFile file(CreateFileW(ForFileCalls(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        outcome.status = FileDigestStatus::OpenFailed;
        outcome.code = GetLastError();
        return outcome;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size)) {
        outcome.status = FileDigestStatus::SizeFailed;
        outcome.code = GetLastError();
        return outcome;
    }
    outcome.size = static_cast<unsigned long long>(size.QuadPart);
    if (outcome.size == 0) {
        outcome.status = FileDigestStatus::Empty;
        return outcome;
    }
    Digest hash(kind);
    DWORD readError = ERROR_SUCCESS;
    const unsigned long long total = outcome.size;
    unsigned long long& done = outcome.done;
    auto read = [&](unsigned char* buffer, size_t capacity, size_t& got) {
        got = 0;
        if (done >= total) return true;  // only the bytes the size promised
        const unsigned long long left = total - done;
        const DWORD want = static_cast<DWORD>(left < capacity ? left : capacity);
        DWORD count = 0;
        if (!ReadFile(file.get(), buffer, want, &count, nullptr)) {
            readError = GetLastError();
            return false;
        }
        got = count;
        done += count;
        return true;
    };
    auto consume = [&](const unsigned char* data, size_t length) { hash.Update(data, length); };
    switch (pipeline::ReadAhead(read, consume, pipeline::PlanFor(total, ::digest::HashIsQuick(kind)))) {
    case pipeline::Result::Done: break;
    case pipeline::Result::NoMemory:
        outcome.status = FileDigestStatus::NoMemory;
        outcome.code = ERROR_NOT_ENOUGH_MEMORY;
        return outcome;
    case pipeline::Result::ReadFailed:
        outcome.status = FileDigestStatus::ReadFailed;
        outcome.code = readError;
        return outcome;
    }
    if (done != total) {  // the file shrank under us
        outcome.status = FileDigestStatus::ReadFailed;
        outcome.code = ERROR_HANDLE_EOF;
        return outcome;
    }
    outcome.hex = hash.FinalHex();
    return outcome;
}

std::string DigestOfBytes(int kind, const unsigned char* data, size_t size) {
    Digest hash(kind);
    if (size != 0) hash.Update(data, size);
    return hash.FinalHex();
}

}  // namespace tarnwick::hashing
