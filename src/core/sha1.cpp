#include "sha1.h"

#include <new>

#include "blockframing.h"
#include "mdframing.h"

namespace digest {
namespace {

inline std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

#define SHA1_CH(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_MAJ(b, c, d) (((b) & (c)) + (((b) ^ (c)) & (d)))
// Word t of the schedule, for t >= 16, computed in place in the sixteen-word window.
#define SHA1_W(t) (W[(t) & 15] = Rotl(W[((t) + 13) & 15] ^ W[((t) + 8) & 15] ^ W[((t) + 2) & 15] ^ W[(t) & 15], 1))
#define SHA1_ROUND(a, b, c, d, e, f, k, w) \
    e += (w) + (k);                           \
    e += f(b, c, d);                          \
    e += Rotl(a, 5);                          \
    b = Rotl(b, 30)
// Five rounds rotate the roles of the five words back to where they started.
#define SHA1_FIVE_FIRST(t)                                             \
    SHA1_ROUND(a, b, c, d, e, SHA1_CH, 0x5a827999u, W[(t)]);           \
    SHA1_ROUND(e, a, b, c, d, SHA1_CH, 0x5a827999u, W[(t) + 1]);       \
    SHA1_ROUND(d, e, a, b, c, SHA1_CH, 0x5a827999u, W[(t) + 2]);       \
    SHA1_ROUND(c, d, e, a, b, SHA1_CH, 0x5a827999u, W[(t) + 3]);       \
    SHA1_ROUND(b, c, d, e, a, SHA1_CH, 0x5a827999u, W[(t) + 4])
#define SHA1_FIVE(t, f, k)                                  \
    SHA1_ROUND(a, b, c, d, e, f, k, SHA1_W(t));             \
    SHA1_ROUND(e, a, b, c, d, f, k, SHA1_W((t) + 1));       \
    SHA1_ROUND(d, e, a, b, c, f, k, SHA1_W((t) + 2));       \
    SHA1_ROUND(c, d, e, a, b, f, k, SHA1_W((t) + 3));       \
    SHA1_ROUND(b, c, d, e, a, f, k, SHA1_W((t) + 4))

void Compress(std::uint32_t* h, const unsigned char* p, std::size_t count) {
    for (; count != 0; --count, p += 64) {
        std::uint32_t W[16];
        LoadBlockBe(W, p);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        SHA1_FIVE_FIRST(0);
        SHA1_FIVE_FIRST(5);
        SHA1_FIVE_FIRST(10);
        SHA1_ROUND(a, b, c, d, e, SHA1_CH, 0x5a827999u, W[15]);
        SHA1_ROUND(e, a, b, c, d, SHA1_CH, 0x5a827999u, SHA1_W(16));
        SHA1_ROUND(d, e, a, b, c, SHA1_CH, 0x5a827999u, SHA1_W(17));
        SHA1_ROUND(c, d, e, a, b, SHA1_CH, 0x5a827999u, SHA1_W(18));
        SHA1_ROUND(b, c, d, e, a, SHA1_CH, 0x5a827999u, SHA1_W(19));
        SHA1_FIVE(20, SHA1_PARITY, 0x6ed9eba1u);
        SHA1_FIVE(25, SHA1_PARITY, 0x6ed9eba1u);
        SHA1_FIVE(30, SHA1_PARITY, 0x6ed9eba1u);
        SHA1_FIVE(35, SHA1_PARITY, 0x6ed9eba1u);
        SHA1_FIVE(40, SHA1_MAJ, 0x8f1bbcdcu);
        SHA1_FIVE(45, SHA1_MAJ, 0x8f1bbcdcu);
        SHA1_FIVE(50, SHA1_MAJ, 0x8f1bbcdcu);
        SHA1_FIVE(55, SHA1_MAJ, 0x8f1bbcdcu);
        SHA1_FIVE(60, SHA1_PARITY, 0xca62c1d6u);
        SHA1_FIVE(65, SHA1_PARITY, 0xca62c1d6u);
        SHA1_FIVE(70, SHA1_PARITY, 0xca62c1d6u);
        SHA1_FIVE(75, SHA1_PARITY, 0xca62c1d6u);
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
}

#undef SHA1_CH
#undef SHA1_PARITY
#undef SHA1_MAJ
#undef SHA1_W
#undef SHA1_ROUND
#undef SHA1_FIVE_FIRST
#undef SHA1_FIVE

using Context = MdContext<5, true, Compress>;
constexpr std::uint32_t kInitial[5] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u, 0xc3d2e1f0u};
constexpr char kTag[4] = {'s', 'h', 'a', '1'};

}  // namespace

const HashClass kSha1Class = MdRecord<Context, kInitial, kTag>::Make("sha1");

void Sha1(const void* data, std::size_t length, unsigned char digest[20]) {
    Context c;
    c.Init(kInitial);
    c.Update(data, length);
    c.Final(digest);
}

}  // namespace digest
