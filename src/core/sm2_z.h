// The SM2 "Z value" of a public key, the hash of the signer's identity that SM2 signatures and
// SM3-with-Z digests start from:
//
//   Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA)
//
// over the curve sm2p256v1, where ENTL is the bit length of ID as two big-endian bytes and every
// field element is 32 big-endian bytes. The point is taken as given: checking that it lies on the
// curve is the caller's business.
//
// Pure C++: no Windows headers, no I/O.
#ifndef TARNWICK_CORE_SM2_Z_H
#define TARNWICK_CORE_SM2_Z_H

#include <cstddef>

namespace digest {

// The identifier signers use when they are given none, and its length in bytes (ENTL = 0x0080).
constexpr char kSm2DefaultId[] = "1234567812345678";
constexpr std::size_t kSm2DefaultIdLength = sizeof kSm2DefaultId - 1;

// Writes Z for the public point (x, y), each coordinate 32 big-endian bytes. Returns false, with z
// untouched, when idLength * 8 does not fit ENTL's 16 bits (idLength > 8191) or id is null with a
// non-zero length.
bool ComputeSm2Z(const unsigned char x[32], const unsigned char y[32], const unsigned char* id,
                 std::size_t idLength, unsigned char z[32]);

}  // namespace digest

#endif
