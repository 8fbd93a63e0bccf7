// MD5, SHA-1 and the CRCs through their digest class records, against references written
// elsewhere: OpenSSL's MD5 and SHA-1, zlib's crc32, the CRC catalogue's check values, and a
// bit-at-a-time CRC from the catalogue's parameters (no tables) for every length and split.
#include "crc32.h"
#include "crcs.h"
#include "hashclass.h"
#include "md5.h"
#include "sha1.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string Hex(const Bytes& d) {
    static const char k[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : d) { s += k[c >> 4]; s += k[c & 15]; }
    return s;
}

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto& c : v) c = static_cast<unsigned char>(rng());
    return v;
}

// Big-endian bytes of a CRC value, as the classes give it.
Bytes BigEndian(std::uint64_t v, size_t size) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(v >> (8 * (size - 1 - i)));
    return out;
}

// A reflected CRC one bit at a time, as the catalogue defines it.
std::uint64_t BitwiseCrc(std::uint64_t reflectedPoly, int width, const unsigned char* p, size_t n) {
    const std::uint64_t mask = width == 64 ? ~0ull : (1ull << width) - 1;
    std::uint64_t c = mask;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int b = 0; b < 8; ++b) c = (c & 1) ? (c >> 1) ^ reflectedPoly : c >> 1;
    }
    return c ^ mask;
}

Bytes Evp(const EVP_MD* md, const unsigned char* p, size_t n) {
    Bytes out(EVP_MD_size(md));
    unsigned int len = 0;
    EXPECT_EQ(1, EVP_Digest(p, n, out.data(), &len, md, nullptr));
    return out;
}

struct Case {
    const digest::HashClass* cls;
    const char* name;
    size_t size;
    const char* check;  // of "123456789"
    Bytes (*reference)(const unsigned char*, size_t);
};

const Case kCases[] = {
    {&digest::kMd5Class, "md5", 16, "25f9e794323b453885f5181f1b624d0b",
     [](const unsigned char* p, size_t n) { return Evp(EVP_md5(), p, n); }},
    {&digest::kSha1Class, "sha1", 20, "f7c3bc1d808e04732adf679965ccc34ca7ae3441",
     [](const unsigned char* p, size_t n) { return Evp(EVP_sha1(), p, n); }},
    {&digest::kCrc32Class, "crc32", 4, "cbf43926",
     [](const unsigned char* p, size_t n) {
         return BigEndian(crc32(0, p, static_cast<uInt>(n)), 4);
     }},
    {&digest::kCrc32cClass, "crc32c", 4, "e3069283",
     [](const unsigned char* p, size_t n) { return BigEndian(BitwiseCrc(0x82F63B78u, 32, p, n), 4); }},
    {&digest::kCrc64EcmaClass, "crc64ecma", 8, "995dc9bbdf1939fa",
     [](const unsigned char* p, size_t n) { return BigEndian(BitwiseCrc(0xC96C5795D7870F42ull, 64, p, n), 8); }},
    {&digest::kCrc64NvmeClass, "crc64nvme", 8, "ae8b14860a799888",
     [](const unsigned char* p, size_t n) { return BigEndian(BitwiseCrc(0x9A6C9329AC4BC9B5ull, 64, p, n), 8); }},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Checksum : public ::testing::TestWithParam<Case> {
protected:
    // Feeds data in pieces ending at each of `cuts`, optionally saving and loading the state into
    // a fresh context at every cut.
    Bytes Run(const Bytes& data, const std::vector<size_t>& cuts, bool resume) {
        const digest::HashClass& c = *GetParam().cls;
        std::vector<std::max_align_t> ctx(c.contextSize / sizeof(std::max_align_t) + 1);
        c.init(ctx.data());
        size_t at = 0;
        for (size_t cut : cuts) {
            c.update(ctx.data(), data.data() + at, cut - at);
            at = cut;
            if (resume) {
                Bytes state(c.stateSize);
                c.save(ctx.data(), state.data());
                c.destroy(ctx.data());
                std::vector<std::max_align_t> fresh(ctx.size());
                c.init(fresh.data());
                EXPECT_TRUE(c.load(fresh.data(), state.data(), state.size()));
                ctx.swap(fresh);
            }
        }
        c.update(ctx.data(), data.data() + at, data.size() - at);
        Bytes out(c.digestSize);
        c.final(ctx.data(), out.data());
        c.destroy(ctx.data());
        return out;
    }
};

TEST_P(Checksum, CatalogueCheckValueAndName) {
    const Case& k = GetParam();
    EXPECT_STREQ(k.name, k.cls->name);
    EXPECT_EQ(k.cls, digest::HashAt(digest::HashKind(k.name))) << "the table's row for " << k.name;
    ASSERT_EQ(k.size, k.cls->digestSize);
    const std::string nine = "123456789";
    EXPECT_EQ(k.check, Hex(Run(Bytes(nine.begin(), nine.end()), {}, false)));
}

// Lengths around the block and the slicing step, whole and fed one byte at a time.
TEST_P(Checksum, EveryLengthWholeAndBytewise) {
    const Bytes data = RandomBytes(300, 7);
    for (size_t n = 0; n <= data.size(); ++n) {
        const Bytes part(data.begin(), data.begin() + n);
        const Bytes want = GetParam().reference(part.data(), n);
        ASSERT_EQ(Hex(want), Hex(Run(part, {}, false))) << "length " << n;
        std::vector<size_t> cuts;
        for (size_t i = 1; i < n; ++i) cuts.push_back(i);
        ASSERT_EQ(Hex(want), Hex(Run(part, cuts, false))) << "bytewise, length " << n;
    }
}

// A saved state continues the same message in a new context at every split point of a message
// longer than two blocks, and a large one goes through in uneven pieces.
TEST_P(Checksum, SavedStateContinuesTheMessage) {
    const Bytes data = RandomBytes(200, 11);
    const std::string want = Hex(GetParam().reference(data.data(), data.size()));
    for (size_t cut = 0; cut <= data.size(); ++cut) ASSERT_EQ(want, Hex(Run(data, {cut}, true))) << cut;
    const Bytes big = RandomBytes(3 << 20, 12);
    EXPECT_EQ(Hex(GetParam().reference(big.data(), big.size())),
              Hex(Run(big, {1, 1000003, 2000000, 2000064}, true)));
}

// A state of another algorithm, cut short, or with bytes Save never writes, is refused and leaves
// the context as new.
TEST_P(Checksum, ForeignOrDamagedStateRefused) {
    const digest::HashClass& c = *GetParam().cls;
    std::vector<std::max_align_t> ctx(c.contextSize / sizeof(std::max_align_t) + 1);
    c.init(ctx.data());
    const Bytes data = RandomBytes(70, 3);
    c.update(ctx.data(), data.data(), data.size());
    Bytes state(c.stateSize);
    c.save(ctx.data(), state.data());
    for (const Case& other : kCases) {
        if (other.cls == &c) continue;
        std::vector<std::max_align_t> o(other.cls->contextSize / sizeof(std::max_align_t) + 1);
        other.cls->init(o.data());
        Bytes foreign(other.cls->stateSize);
        other.cls->save(o.data(), foreign.data());
        EXPECT_FALSE(c.load(ctx.data(), foreign.data(), foreign.size())) << other.name;
    }
    EXPECT_FALSE(c.load(ctx.data(), state.data(), state.size() - 1));
    Bytes badTag = state;
    badTag[0] ^= 1;
    EXPECT_FALSE(c.load(ctx.data(), badTag.data(), badTag.size()));
    if (c.stateSize > 12) {  // MD5 and SHA-1: bytes past the kept partial block must be zero
        Bytes badTail = state;
        badTail.back() = 1;
        EXPECT_FALSE(c.load(ctx.data(), badTail.data(), badTail.size()));
    }
    Bytes out(c.digestSize);
    c.final(ctx.data(), out.data());
    EXPECT_EQ(Hex(GetParam().reference(nullptr, 0)), Hex(out)) << "a refused load leaves the context as new";
}

INSTANTIATE_TEST_SUITE_P(Classes, Checksum, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
