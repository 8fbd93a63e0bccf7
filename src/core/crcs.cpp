#include "crcs.h"

#include <array>
#include <cstring>

#include "crc32.h"

namespace crc {
namespace {

template <class T>
using Tables = std::array<std::array<T, 256>, 16>;

// tables[0] is the byte-wise table; tables[k][b] advances tables[0][b] by k more zero bytes.
// Made on first use rather than at compile time: stored, the three sets would be 80 KiB of the
// WebAssembly module; made, they cost microseconds once.
template <class T>
Tables<T> MakeTables(T polynomial) {
    Tables<T> t{};
    for (unsigned b = 0; b < 256; ++b) {
        T c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ polynomial : c >> 1;
        t[0][b] = c;
    }
    for (std::size_t k = 1; k < 16; ++k)
        for (std::size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

template <class T>
inline T LoadLe(const unsigned char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
#else
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(p[i]) << (8 * i);
    return v;
#endif
}

const Tables<std::uint32_t>& Crc32cTables() {
    static const Tables<std::uint32_t> tables = MakeTables<std::uint32_t>(0x82F63B78u);
    return tables;
}
const Tables<std::uint64_t>& Crc64EcmaTables() {
    static const Tables<std::uint64_t> tables = MakeTables<std::uint64_t>(0xC96C5795D7870F42ull);
    return tables;
}
const Tables<std::uint64_t>& Crc64NvmeTables() {
    static const Tables<std::uint64_t> tables = MakeTables<std::uint64_t>(0x9A6C9329AC4BC9B5ull);
    return tables;
}

std::uint32_t Slice32(const Tables<std::uint32_t>& t, std::uint32_t crc, const void* data, std::size_t length) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::uint32_t c = ~crc;
    for (; length >= 16; length -= 16, p += 16) {
        const std::uint32_t w0 = LoadLe<std::uint32_t>(p) ^ c;
        const std::uint32_t w1 = LoadLe<std::uint32_t>(p + 4);
        const std::uint32_t w2 = LoadLe<std::uint32_t>(p + 8);
        const std::uint32_t w3 = LoadLe<std::uint32_t>(p + 12);
        c = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24] ^
            t[11][w1 & 0xFF] ^ t[10][(w1 >> 8) & 0xFF] ^ t[9][(w1 >> 16) & 0xFF] ^ t[8][w1 >> 24] ^
            t[7][w2 & 0xFF] ^ t[6][(w2 >> 8) & 0xFF] ^ t[5][(w2 >> 16) & 0xFF] ^ t[4][w2 >> 24] ^
            t[3][w3 & 0xFF] ^ t[2][(w3 >> 8) & 0xFF] ^ t[1][(w3 >> 16) & 0xFF] ^ t[0][w3 >> 24];
    }
    for (; length != 0; --length) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return ~c;
}

std::uint64_t Slice64(const Tables<std::uint64_t>& t, std::uint64_t crc, const void* data, std::size_t length) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::uint64_t c = ~crc;
    for (; length >= 16; length -= 16, p += 16) {
        const std::uint64_t w0 = LoadLe<std::uint64_t>(p) ^ c;
        const std::uint64_t w1 = LoadLe<std::uint64_t>(p + 8);
        c = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^
            t[12][(w0 >> 24) & 0xFF] ^ t[11][(w0 >> 32) & 0xFF] ^ t[10][(w0 >> 40) & 0xFF] ^
            t[9][(w0 >> 48) & 0xFF] ^ t[8][w0 >> 56] ^
            t[7][w1 & 0xFF] ^ t[6][(w1 >> 8) & 0xFF] ^ t[5][(w1 >> 16) & 0xFF] ^
            t[4][(w1 >> 24) & 0xFF] ^ t[3][(w1 >> 32) & 0xFF] ^ t[2][(w1 >> 40) & 0xFF] ^
            t[1][(w1 >> 48) & 0xFF] ^ t[0][w1 >> 56];
    }
    for (; length != 0; --length) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return ~c;
}

}  // namespace

std::uint32_t Crc32c(std::uint32_t crc, const void* data, std::size_t length) {
    return Slice32(Crc32cTables(), crc, data, length);
}
std::uint64_t Crc64Ecma(std::uint64_t crc, const void* data, std::size_t length) {
    return Slice64(Crc64EcmaTables(), crc, data, length);
}
std::uint64_t Crc64Nvme(std::uint64_t crc, const void* data, std::size_t length) {
    return Slice64(Crc64NvmeTables(), crc, data, length);
}

}  // namespace crc

namespace digest {
namespace {

// One class record per CRC: the context is the running value alone.
template <class T, T (*Fn)(T, const void*, std::size_t), char T0, char T1, char T2, char T3>
struct CrcClass {
    static constexpr std::size_t kStateSize = 4 + sizeof(T);
    static void Init(void* c) { std::memcpy(c, &kZero, sizeof(T)); }
    static void Update(void* c, const void* data, std::size_t length) {
        T v;
        std::memcpy(&v, c, sizeof v);
        v = Fn(v, data, length);
        std::memcpy(c, &v, sizeof v);
    }
    static void Final(void* c, unsigned char* out) {
        T v;
        std::memcpy(&v, c, sizeof v);
        for (std::size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<unsigned char>(v >> (8 * (sizeof(T) - 1 - i)));
        Init(c);
    }
    static void Save(const void* c, unsigned char* state) {
        T v;
        std::memcpy(&v, c, sizeof v);
        const char tag[4] = {T0, T1, T2, T3};
        std::memcpy(state, tag, 4);
        for (std::size_t i = 0; i < sizeof(T); ++i) state[4 + i] = static_cast<unsigned char>(v >> (8 * i));
    }
    static bool Load(void* c, const unsigned char* state, std::size_t length) {
        const char tag[4] = {T0, T1, T2, T3};
        Init(c);
        if (length != kStateSize || std::memcmp(state, tag, 4) != 0) return false;
        T v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(state[4 + i]) << (8 * i);
        std::memcpy(c, &v, sizeof v);
        return true;
    }
    static void Destroy(void*) {}
    static constexpr T kZero = 0;
    static constexpr HashClass Record(const char* name) {
        return {name, sizeof(std::uint64_t), sizeof(T), kStateSize, Init, Update, Final, Save, Load, Destroy};
    }
};

using Crc32 = CrcClass<std::uint32_t, crc::Crc32, 'c', '3', '2', 'z'>;
using Crc32c = CrcClass<std::uint32_t, crc::Crc32c, 'c', '3', '2', 'c'>;
using Crc64Ecma = CrcClass<std::uint64_t, crc::Crc64Ecma, 'c', '6', '4', 'e'>;
using Crc64Nvme = CrcClass<std::uint64_t, crc::Crc64Nvme, 'c', '6', '4', 'n'>;

}  // namespace

const HashClass kCrc32Class = Crc32::Record("crc32");
const HashClass kCrc32cClass = Crc32c::Record("crc32c");
const HashClass kCrc64EcmaClass = Crc64Ecma::Record("crc64ecma");
const HashClass kCrc64NvmeClass = Crc64Nvme::Record("crc64nvme");

}  // namespace digest
