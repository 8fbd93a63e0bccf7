#include "digest/FileDigest.h"
#include "CSHA256.h"
#include "framework/NarrowString.h"
#include "Owners.h"
#include "readahead.h"
#include "Paths.h"

namespace tarnwick::hashing {
FileDigest Sha256OfFile(const std::wstring& path) {
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
    ::digest::Sha256 hash;
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
    const bool quick = hash.engine() == ::digest::Sha256Engine::ShaNi;
    switch (pipeline::ReadAhead(read, consume, pipeline::PlanFor(total, quick))) {
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
    unsigned char digestBytes[::digest::Sha256::kDigestSize];
    hash.Final(digestBytes);
    char text[CSHA256::kHexLength + 1] = {};
    CSHA256::ToHex(text, digestBytes);
    outcome.hex = text;
    return outcome;
}

std::string Sha256OfBytes(const unsigned char* data, size_t size) {
    char text[CSHA256::kHexLength + 1] = {};
    CSHA256().HashToHex(text, data, static_cast<unsigned int>(size));
    return std::string(text, CSHA256::kHexLength);
}

}  // namespace tarnwick::hashing
