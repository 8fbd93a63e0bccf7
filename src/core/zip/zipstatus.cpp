#include "zipcore.h"

namespace zipcore {

const char* describe(Status status) {
    switch (status) {
    case Status::Ok: return "ok";
    case Status::ReadFailed: return "read failed";
    case Status::WriteFailed: return "write failed";
    case Status::OutOfMemory: return "out of memory";
    case Status::CompressFailed: return "compression failed";
    case Status::NotAnArchive: return "not an archive";
    case Status::Corrupt: return "corrupt entry data";
    case Status::CrcMismatch: return "CRC mismatch";
    case Status::SizeMismatch: return "size mismatch";
    case Status::UnsafeName: return "unsafe name";
    case Status::Unsupported: return "unsupported";
    case Status::TooManyEntries: return "too many entries";
    case Status::TooLarge: return "too large";
    case Status::SourceChanged: return "source changed";
    }
    return "unknown";
}

}  // namespace zipcore
