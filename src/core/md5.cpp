#include "md5.h"

#include <new>

#include "mdframing.h"

namespace digest {
namespace {

struct Words {
    const unsigned char* p;
    std::uint32_t operator[](int i) const {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::uint32_t v;
        std::memcpy(&v, p + 4 * i, sizeof v);
        return v;
#else
        return LoadLe32(p + 4 * i);
#endif
    }
};

inline std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Each step's chain through b kept short: what does not depend on b (the word, the constant, and
// G's half that does not use b) is added to a first, while the previous step is still running.
#define MD5_F(x, y, z) ((((y) ^ (z)) & (x)) ^ (z))
#define MD5_H(x, y, z) ((x) ^ ((y) ^ (z)))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, w, k, s) \
    a += (w) + (k);                       \
    a += f(b, c, d);                      \
    a = Rotl(a, s) + (b)
// G(b, c, d) = (b & d) | (c & ~d), two halves with no bit in common: their sum.
#define MD5_STEP_G(a, b, c, d, w, k, s) \
    a += (w) + (k) + ((c) & ~(d));        \
    a += (b) & (d);                       \
    a = Rotl(a, s) + (b)

void Compress(std::uint32_t* h, const unsigned char* p, std::size_t count) {
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (; count != 0; --count, p += 64) {
        // The message words are read where they lie, each as the step needs it.
        Words X{p};
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        MD5_STEP(MD5_F, a, b, c, d, X[0], 0xd76aa478u, 7);
        MD5_STEP(MD5_F, d, a, b, c, X[1], 0xe8c7b756u, 12);
        MD5_STEP(MD5_F, c, d, a, b, X[2], 0x242070dbu, 17);
        MD5_STEP(MD5_F, b, c, d, a, X[3], 0xc1bdceeeu, 22);
        MD5_STEP(MD5_F, a, b, c, d, X[4], 0xf57c0fafu, 7);
        MD5_STEP(MD5_F, d, a, b, c, X[5], 0x4787c62au, 12);
        MD5_STEP(MD5_F, c, d, a, b, X[6], 0xa8304613u, 17);
        MD5_STEP(MD5_F, b, c, d, a, X[7], 0xfd469501u, 22);
        MD5_STEP(MD5_F, a, b, c, d, X[8], 0x698098d8u, 7);
        MD5_STEP(MD5_F, d, a, b, c, X[9], 0x8b44f7afu, 12);
        MD5_STEP(MD5_F, c, d, a, b, X[10], 0xffff5bb1u, 17);
        MD5_STEP(MD5_F, b, c, d, a, X[11], 0x895cd7beu, 22);
        MD5_STEP(MD5_F, a, b, c, d, X[12], 0x6b901122u, 7);
        MD5_STEP(MD5_F, d, a, b, c, X[13], 0xfd987193u, 12);
        MD5_STEP(MD5_F, c, d, a, b, X[14], 0xa679438eu, 17);
        MD5_STEP(MD5_F, b, c, d, a, X[15], 0x49b40821u, 22);

        MD5_STEP_G(a, b, c, d, X[1], 0xf61e2562u, 5);
        MD5_STEP_G(d, a, b, c, X[6], 0xc040b340u, 9);
        MD5_STEP_G(c, d, a, b, X[11], 0x265e5a51u, 14);
        MD5_STEP_G(b, c, d, a, X[0], 0xe9b6c7aau, 20);
        MD5_STEP_G(a, b, c, d, X[5], 0xd62f105du, 5);
        MD5_STEP_G(d, a, b, c, X[10], 0x02441453u, 9);
        MD5_STEP_G(c, d, a, b, X[15], 0xd8a1e681u, 14);
        MD5_STEP_G(b, c, d, a, X[4], 0xe7d3fbc8u, 20);
        MD5_STEP_G(a, b, c, d, X[9], 0x21e1cde6u, 5);
        MD5_STEP_G(d, a, b, c, X[14], 0xc33707d6u, 9);
        MD5_STEP_G(c, d, a, b, X[3], 0xf4d50d87u, 14);
        MD5_STEP_G(b, c, d, a, X[8], 0x455a14edu, 20);
        MD5_STEP_G(a, b, c, d, X[13], 0xa9e3e905u, 5);
        MD5_STEP_G(d, a, b, c, X[2], 0xfcefa3f8u, 9);
        MD5_STEP_G(c, d, a, b, X[7], 0x676f02d9u, 14);
        MD5_STEP_G(b, c, d, a, X[12], 0x8d2a4c8au, 20);

        MD5_STEP(MD5_H, a, b, c, d, X[5], 0xfffa3942u, 4);
        MD5_STEP(MD5_H, d, a, b, c, X[8], 0x8771f681u, 11);
        MD5_STEP(MD5_H, c, d, a, b, X[11], 0x6d9d6122u, 16);
        MD5_STEP(MD5_H, b, c, d, a, X[14], 0xfde5380cu, 23);
        MD5_STEP(MD5_H, a, b, c, d, X[1], 0xa4beea44u, 4);
        MD5_STEP(MD5_H, d, a, b, c, X[4], 0x4bdecfa9u, 11);
        MD5_STEP(MD5_H, c, d, a, b, X[7], 0xf6bb4b60u, 16);
        MD5_STEP(MD5_H, b, c, d, a, X[10], 0xbebfbc70u, 23);
        MD5_STEP(MD5_H, a, b, c, d, X[13], 0x289b7ec6u, 4);
        MD5_STEP(MD5_H, d, a, b, c, X[0], 0xeaa127fau, 11);
        MD5_STEP(MD5_H, c, d, a, b, X[3], 0xd4ef3085u, 16);
        MD5_STEP(MD5_H, b, c, d, a, X[6], 0x04881d05u, 23);
        MD5_STEP(MD5_H, a, b, c, d, X[9], 0xd9d4d039u, 4);
        MD5_STEP(MD5_H, d, a, b, c, X[12], 0xe6db99e5u, 11);
        MD5_STEP(MD5_H, c, d, a, b, X[15], 0x1fa27cf8u, 16);
        MD5_STEP(MD5_H, b, c, d, a, X[2], 0xc4ac5665u, 23);

        MD5_STEP(MD5_I, a, b, c, d, X[0], 0xf4292244u, 6);
        MD5_STEP(MD5_I, d, a, b, c, X[7], 0x432aff97u, 10);
        MD5_STEP(MD5_I, c, d, a, b, X[14], 0xab9423a7u, 15);
        MD5_STEP(MD5_I, b, c, d, a, X[5], 0xfc93a039u, 21);
        MD5_STEP(MD5_I, a, b, c, d, X[12], 0x655b59c3u, 6);
        MD5_STEP(MD5_I, d, a, b, c, X[3], 0x8f0ccc92u, 10);
        MD5_STEP(MD5_I, c, d, a, b, X[10], 0xffeff47du, 15);
        MD5_STEP(MD5_I, b, c, d, a, X[1], 0x85845dd1u, 21);
        MD5_STEP(MD5_I, a, b, c, d, X[8], 0x6fa87e4fu, 6);
        MD5_STEP(MD5_I, d, a, b, c, X[15], 0xfe2ce6e0u, 10);
        MD5_STEP(MD5_I, c, d, a, b, X[6], 0xa3014314u, 15);
        MD5_STEP(MD5_I, b, c, d, a, X[13], 0x4e0811a1u, 21);
        MD5_STEP(MD5_I, a, b, c, d, X[4], 0xf7537e82u, 6);
        MD5_STEP(MD5_I, d, a, b, c, X[11], 0xbd3af235u, 10);
        MD5_STEP(MD5_I, c, d, a, b, X[2], 0x2ad7d2bbu, 15);
        MD5_STEP(MD5_I, b, c, d, a, X[9], 0xeb86d391u, 21);
        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    h[0] = a;
    h[1] = b;
    h[2] = c;
    h[3] = d;
}

#undef MD5_F
#undef MD5_STEP_G
#undef MD5_H
#undef MD5_I
#undef MD5_STEP

using Context = MdContext<4, false, Compress>;
constexpr std::uint32_t kInitial[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
constexpr char kTag[4] = {'m', 'd', '5', '1'};

}  // namespace

const HashClass kMd5Class = MdRecord<Context, kInitial, kTag>::Make("md5");

void Md5(const void* data, std::size_t length, unsigned char digest[16]) {
    Context c;
    c.Init(kInitial);
    c.Update(data, length);
    c.Final(digest);
}

}  // namespace digest
