// The digest of a local file of any size, by any kind of the core's table of digests
// (digest::HashKind), in constant memory: read on a second thread while the previous block is
// hashed where the kind's fastest form keeps up with it, else in turn.
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
    std::string hex;  // upper-case digits, two a byte of the digest, when done
};

// `kind` must be one of the table's (digest::HashAt gives a record for it).
FileDigest DigestOfFile(int kind, const std::wstring& path);

// The digest of bytes in memory, as upper-case digits.
std::string DigestOfBytes(int kind, const unsigned char* data, size_t size);

}  // namespace tarnwick::hashing
