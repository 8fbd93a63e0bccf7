// SHA-256 of a local file, streamed a block at a time in constant memory.
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick::hashing {

enum class FileDigestStatus {
    Done,
    OpenFailed,  // code holds the system's reason
    SizeFailed,  // the size could not be read; code holds the reason
    TooLarge,    // 4 GiB or more
    Empty,       // nothing to hash
    NoMemory,    // no read buffer; code holds the system's last error
    ReadFailed,  // fewer bytes than the size said (done of size); code holds the reason
};

struct FileDigest {
    FileDigestStatus status = FileDigestStatus::Done;
    DWORD code = 0;
    DWORD done = 0;
    DWORD size = 0;
    std::string hex;  // 64 upper-case digits when done
};

FileDigest Sha256OfFile(const std::string& path);

}  // namespace tarnwick::hashing
