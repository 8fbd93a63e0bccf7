#include "digest/FileDigest.h"
#include "CSHA256.h"
#include "framework/Owners.h"
#include <memory>
#include <new>

namespace tarnwick::hashing {
namespace {
constexpr DWORD kReadBlock = 1 << 20;
}

FileDigest Sha256OfFile(const std::string& path) {
    FileDigest outcome;
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        outcome.status = FileDigestStatus::OpenFailed;
        outcome.code = GetLastError();
        return outcome;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file.get(), &high);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        outcome.status = FileDigestStatus::SizeFailed;
        outcome.code = GetLastError();
        return outcome;
    }
    if (high != 0) {
        outcome.status = FileDigestStatus::TooLarge;
        return outcome;
    }
    if (size == 0) {
        outcome.status = FileDigestStatus::Empty;
        return outcome;
    }
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kReadBlock]);
    if (!block) {
        outcome.status = FileDigestStatus::NoMemory;
        outcome.code = GetLastError();
        return outcome;
    }
    ::digest::Sha256 hash;
    DWORD total = 0;
    while (total < size) {
        DWORD want = size - total < kReadBlock ? size - total : kReadBlock;
        DWORD got = 0;
        if (!ReadFile(file.get(), block.get(), want, &got, nullptr) || got == 0) break;
        hash.Update(block.get(), got);
        total += got;
    }
    if (total != size) {
        outcome.status = FileDigestStatus::ReadFailed;
        outcome.code = GetLastError();
        outcome.done = total;
        outcome.size = size;
        return outcome;
    }
    unsigned char digestBytes[::digest::Sha256::kDigestSize];
    hash.Final(digestBytes);
    char text[CSHA256::kHexLength + 1] = {};
    CSHA256::ToHex(text, digestBytes);
    outcome.hex = text;
    return outcome;
}

}  // namespace tarnwick::hashing
