#include "crc32.h"

#include <array>
#include <cstring>

namespace crc {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

using Tables = std::array<std::array<std::uint32_t, 256>, 16>;

// tables[0] is the byte-wise table; tables[k][b] advances tables[0][b] by k more zero bytes.
// Made on first use rather than at compile time, as the other CRCs' are (crcs.cpp).
Tables MakeTables() {
    Tables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
        t[0][b] = c;
    }
    for (std::size_t k = 1; k < 16; ++k)
        for (std::size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

const Tables& TheTables() {
    static const Tables tables = MakeTables();
    return tables;
}

inline std::uint32_t LoadLe32(const unsigned char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint32_t v;  // one load: WebAssembly engines do not fuse the four byte loads below
    std::memcpy(&v, p, sizeof v);
    return v;
#else
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
#endif
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t length) {
    const Tables& kTables = TheTables();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::uint32_t c = ~crc;
    while (length >= 16) {
        const std::uint32_t w0 = LoadLe32(p) ^ c;
        const std::uint32_t w1 = LoadLe32(p + 4);
        const std::uint32_t w2 = LoadLe32(p + 8);
        const std::uint32_t w3 = LoadLe32(p + 12);
        c = kTables[15][w0 & 0xFF] ^ kTables[14][(w0 >> 8) & 0xFF] ^ kTables[13][(w0 >> 16) & 0xFF] ^
            kTables[12][w0 >> 24] ^ kTables[11][w1 & 0xFF] ^ kTables[10][(w1 >> 8) & 0xFF] ^
            kTables[9][(w1 >> 16) & 0xFF] ^ kTables[8][w1 >> 24] ^ kTables[7][w2 & 0xFF] ^
            kTables[6][(w2 >> 8) & 0xFF] ^ kTables[5][(w2 >> 16) & 0xFF] ^ kTables[4][w2 >> 24] ^
            kTables[3][w3 & 0xFF] ^ kTables[2][(w3 >> 8) & 0xFF] ^ kTables[1][(w3 >> 16) & 0xFF] ^
            kTables[0][w3 >> 24];
        p += 16;
        length -= 16;
    }
    while (length-- > 0) c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFF];
    return ~c;
}

}  // namespace crc
