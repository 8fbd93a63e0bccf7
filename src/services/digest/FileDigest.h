// SHA-256 of a local file of any size, read on a second thread while the previous block is
// hashed, in constant memory (three 2 MiB blocks).
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick::hashing {

enum class FileDigestStatus {
    Done,
    OpenFailed,  // code holds the system's reason
    SizeFailed,  // the size could not be read; code holds the reason
    Empty,       // nothing to hash
    NoMemory,    // no read buffer; code holds the system's last error
    ReadFailed,  // fewer bytes than the size said (done of size); code holds the reason
};

struct FileDigest {
    FileDigestStatus status = FileDigestStatus::Done;
    DWORD code = 0;
    unsigned long long done = 0;
    unsigned long long size = 0;
    std::string hex;  // 64 upper-case digits when done
};

FileDigest Sha256OfFile(const std::wstring& path);

// SHA-256 of bytes in memory, as 64 upper-case digits.
std::string Sha256OfBytes(const unsigned char* data, size_t size);

}  // namespace tarnwick::hashing
