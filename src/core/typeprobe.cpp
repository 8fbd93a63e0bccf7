#include "typeprobe.h"
#include "hex.h"

#include <memory>

namespace probe {
namespace {
constexpr std::size_t kScanBlock = 1 << 16;
constexpr char kZipSignature[] = "504B0304";
}  // namespace

bool IsPlainText(ByteSource& source) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[kScanBlock]);
    std::size_t got;
    while ((got = source.Read(block.get(), kScanBlock)) > 0) {
        for (std::size_t i = 0; i < got; ++i) {
            if (block[i] >= 1 && block[i] <= 8) return false;
        }
    }
    return true;
}

std::string HeadHex(ByteSource& source) {
    unsigned char head[kHeadLength];
    std::size_t got = 0;
    while (got < kHeadLength) {
        std::size_t more = source.Read(head + got, kHeadLength - got);
        if (more == 0) break;
        got += more;
    }
    return hex::Upper(head, got);
}

bool IsZipHead(const std::string& headHex) { return headHex.compare(0, 8, kZipSignature) == 0; }

}  // namespace probe
