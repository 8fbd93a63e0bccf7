// Our SM3 against the standard's vectors and OpenSSL's EVP_sm3(), once per compression path, and
// our SM2 Z value against the same value computed with libgcrypt's curve and SM3.
#include "sm2_z.h"
#include "sm3.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

using digest::Sm3;
using digest::Sm3Engine;

namespace {

using Bytes = std::vector<unsigned char>;

// The fast engine comes in two forms; each is a path of its own here.
enum class Path { Portable, FastSse2, FastAvx2 };

Bytes Reference(const unsigned char* data, size_t len) {
    Bytes out(32);
    unsigned int n = 0;
    EXPECT_EQ(1, EVP_Digest(data, len, out.data(), &n, EVP_sm3(), nullptr));
    return out;
}

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto& c : v) c = static_cast<unsigned char>(rng());
    return v;
}

class Sm3Path : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        if (GetParam() != Path::Portable && !digest::Sm3FastAvailable())
            GTEST_SKIP() << "no fast path in this build or on this CPU";
        digest::Sm3DisableAvx2(GetParam() == Path::FastSse2);
        if (GetParam() == Path::FastSse2) {
            ASSERT_FALSE(digest::Sm3FastUsesAvx2());
        }
        if (GetParam() == Path::FastAvx2 && !digest::Sm3FastUsesAvx2())
            GTEST_SKIP() << "this CPU has no AVX2/BMI2";
    }
    void TearDown() override { digest::Sm3DisableAvx2(false); }

    Sm3Engine engine() const {
        return GetParam() == Path::Portable ? Sm3Engine::Portable : Sm3Engine::Fast;
    }

    // Digest of data fed in pieces of the given sizes (the rest in one piece).
    Bytes Ours(const unsigned char* data, size_t len, const std::vector<size_t>& pieces = {}) {
        Sm3 ctx(engine());
        EXPECT_EQ(engine(), ctx.engine());
        size_t off = 0;
        for (size_t p : pieces) {
            ctx.Update(data + off, p);
            off += p;
        }
        ctx.Update(data + off, len - off);
        Bytes out(32);
        ctx.Final(out.data());
        return out;
    }
};

TEST_P(Sm3Path, StandardVectors) {
    const unsigned char abc_digest[32] = {
        0x66, 0xc7, 0xf0, 0xf4, 0x62, 0xee, 0xed, 0xd9, 0xd1, 0xf2, 0xd4, 0x6b, 0xdc, 0x10, 0xe4,
        0xe2, 0x41, 0x67, 0xc4, 0x87, 0x5c, 0xf2, 0xf7, 0xa2, 0x29, 0x7d, 0xa0, 0x2b, 0x8f, 0x4b,
        0xa8, 0xe0};
    const unsigned char abcd16_digest[32] = {
        0xde, 0xbe, 0x9f, 0xf9, 0x22, 0x75, 0xb8, 0xa1, 0x38, 0x60, 0x48, 0x89, 0xc1, 0x8e, 0x5a,
        0x4d, 0x6f, 0xdb, 0x70, 0xe5, 0x38, 0x7e, 0x57, 0x65, 0x29, 0x3d, 0xcb, 0xa3, 0x9c, 0x0c,
        0x57, 0x32};
    std::string abcd16;
    for (int i = 0; i < 16; ++i) abcd16 += "abcd";
    const auto* p = reinterpret_cast<const unsigned char*>(abcd16.data());
    EXPECT_EQ(Bytes(abc_digest, abc_digest + 32), Ours(p, 3));  // "abc" is abcd16's prefix
    EXPECT_EQ(Bytes(abcd16_digest, abcd16_digest + 32), Ours(p, 64));
}

// Every length up to 18 blocks: each tail length the padding meets (55 and 56 bytes, where the
// length field first spills into a block of its own), each count of blocks left over after the
// groups of 4 or 8 that the fast path schedules together, and more than one group.
TEST_P(Sm3Path, MatchesOpenSslForEveryLength) {
    const Bytes data = RandomBytes(18 * 64, 1);
    for (size_t len = 0; len <= data.size(); ++len)
        EXPECT_EQ(Reference(data.data(), len), Ours(data.data(), len)) << "length " << len;
}

// Every cut of a message of two whole groups of 8 blocks, three more blocks and a tail: the fast
// path expands the next group of a call between the rounds of the current one, so each cut moves
// where a call's groups, and the group it expands ahead, begin and end.
TEST_P(Sm3Path, EverySplitPoint) {
    const Bytes data = RandomBytes(19 * 64 + 5, 2);
    const Bytes want = Reference(data.data(), data.size());
    for (size_t cut = 0; cut <= data.size(); ++cut)
        EXPECT_EQ(want, Ours(data.data(), data.size(), {cut})) << "cut at " << cut;
}

TEST_P(Sm3Path, AgreesWithPortableOnRandomData) {
    const Bytes data = RandomBytes((1 << 20) + 37, 3);
    std::mt19937 rng(4);
    std::vector<size_t> pieces;
    for (size_t left = data.size(); left > 5000;) {
        pieces.push_back(rng() % 5000);
        left -= pieces.back();
    }
    Bytes portable(32);
    Sm3::Hash(data.data(), data.size(), portable.data(), Sm3Engine::Portable);
    EXPECT_EQ(portable, Ours(data.data(), data.size(), pieces));
}

std::string PathName(const ::testing::TestParamInfo<Path>& info) {
    static const char* const names[] = {"Portable", "FastSse2", "FastAvx2"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Paths, Sm3Path,
                         ::testing::Values(Path::Portable, Path::FastSse2, Path::FastAvx2),
                         PathName);

#if defined(__i386__) || defined(__x86_64__)
// The fast tests above would pass on the portable rounds too: check that x86 really gets the
// fast path, and its AVX2 form exactly where the compiler's own CPU check says so.
TEST(Sm3Dispatch, X86GetsTheFastPath) {
    EXPECT_TRUE(digest::Sm3FastAvailable());
    EXPECT_EQ(Sm3Engine::Fast, digest::Sm3AutoEngine());
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                      __builtin_cpu_supports("bmi2");
    EXPECT_EQ(avx2, digest::Sm3FastUsesAvx2());
}
#endif

// ---- Z value ------------------------------------------------------------------------------------

// Z from libgcrypt: its sm2p256v1 parameters and its SM3.
Bytes GcryptZ(const unsigned char* xy, const unsigned char* id, size_t idLength) {
    gcry_ctx_t ctx = nullptr;
    EXPECT_EQ(0u, gcry_mpi_ec_new(&ctx, nullptr, "sm2p256v1"));
    gcry_md_hd_t md = nullptr;
    EXPECT_EQ(0u, gcry_md_open(&md, GCRY_MD_SM3, 0));
    const unsigned char entl[2] = {static_cast<unsigned char>(idLength * 8 >> 8),
                                   static_cast<unsigned char>(idLength * 8)};
    gcry_md_write(md, entl, 2);
    gcry_md_write(md, id, idLength);
    for (const char* name : {"a", "b", "g.x", "g.y"}) {
        gcry_mpi_t m = gcry_mpi_ec_get_mpi(name, ctx, 1);
        unsigned char buf[32];
        size_t n = 0;
        EXPECT_EQ(0u, gcry_mpi_print(GCRYMPI_FMT_USG, buf, 32, &n, m));
        EXPECT_EQ(32u, n);  // none of the four has a leading zero byte
        gcry_md_write(md, buf, 32);
        gcry_mpi_release(m);
    }
    gcry_md_write(md, xy, 64);
    const unsigned char* d = gcry_md_read(md, GCRY_MD_SM3);
    const Bytes z(d, d + 32);
    gcry_md_close(md);
    gcry_ctx_release(ctx);
    return z;
}

// The public point, 04 || x || y, of a fresh SM2 key as OpenSSL makes them for the certificates
// of sm3z_native_test.
Bytes NewSm2Point() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    EXPECT_NE(nullptr, key);
    Bytes pt(65);
    size_t n = 0;
    EXPECT_EQ(1, EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, pt.data(),
                                                 pt.size(), &n));
    EXPECT_EQ(65u, n);
    EVP_PKEY_free(key);
    return pt;
}

TEST(Sm2Z, MatchesLibgcrypt) {
    ASSERT_NE(nullptr, gcry_check_version(nullptr));
    const Bytes pt = NewSm2Point();
    const Bytes longId = RandomBytes(8191, 5);  // the longest ENTL allows
    const struct {
        const unsigned char* id;
        size_t len;
    } ids[] = {
        {reinterpret_cast<const unsigned char*>(digest::kSm2DefaultId),
         digest::kSm2DefaultIdLength},
        {nullptr, 0},
        {longId.data(), longId.size()},
    };
    for (const auto& id : ids) {
        Bytes z(32);
        ASSERT_TRUE(digest::ComputeSm2Z(&pt[1], &pt[33], id.id, id.len, z.data()));
        EXPECT_EQ(GcryptZ(&pt[1], id.id, id.len), z) << "ID of " << id.len << " bytes";
    }
}

TEST(Sm2Z, RefusesAnIdTooLongForEntl) {
    const Bytes pt = NewSm2Point(), id(8192, 'a');
    unsigned char z[32] = {0};
    EXPECT_FALSE(digest::ComputeSm2Z(&pt[1], &pt[33], id.data(), id.size(), z));
    EXPECT_EQ(Bytes(32, 0), Bytes(z, z + 32));
}

}  // namespace
