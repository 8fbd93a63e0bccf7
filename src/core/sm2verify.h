// SM2 signature verification on sm2p256v1, from the digest e = SM3(Z || message) and the signer's
// public key, as GB/T 32918 states it:
//   the key is a point of the curve (not the point at infinity);
//   r and s are in [1, n-1] and t = (r + s) mod n is not 0;
//   (x1, y1) = [s]G + [t]P is not the point at infinity and (e + x1) mod n == r.
// Only public values go in, so the arithmetic is fast rather than constant-time.
// Also the readers of the encodings a signature and a key come in: a strict DER signature
// (SEQUENCE of two INTEGERs, minimal, non-negative, nothing after), an uncompressed point
// 04 || x || y, a SubjectPublicKeyInfo in DER.
//
// Pure C++: no Windows headers, no I/O.
#ifndef TARNWICK_CORE_SM2VERIFY_H
#define TARNWICK_CORE_SM2VERIFY_H

#include <cstddef>

namespace sm2 {

constexpr std::size_t kScalarSize = 32;

enum class KeyStatus {
    Ok,
    Malformed,   // not the encoding said (SPKI DER, or 65 bytes starting 04)
    NotSm2,      // an SPKI whose key is not an EC key on curve 1.2.156.10197.1.301
    OffCurve,    // coordinates not below p, or not on the curve
};

// The point 04 || x || y (65 bytes) into x and y; checked on the curve.
KeyStatus ReadPoint(const unsigned char* bytes, std::size_t length, unsigned char x[32], unsigned char y[32]);
// SubjectPublicKeyInfo ::= SEQUENCE { SEQUENCE { id-ecPublicKey, sm2p256v1 }, BIT STRING 00 04 x y }
// in DER with nothing after it; the point checked on the curve.
KeyStatus ReadPublicKeyInfo(const unsigned char* der, std::size_t length, unsigned char x[32], unsigned char y[32]);

// A DER signature SEQUENCE { r INTEGER, s INTEGER } in its one canonical encoding with nothing
// after it: r and s into 32 big-endian bytes each. False when the bytes are anything else, or when
// r or s is negative or longer than 32 bytes (no SM2 signature has such values).
bool ReadDerSignature(const unsigned char* der, std::size_t length, unsigned char r[32], unsigned char s[32]);

// True when the signature (r, s) holds for the digest e and the public key (x, y). False for a key
// off the curve, r or s outside [1, n-1], t = 0, or a signature that does not hold.
bool Verify(const unsigned char e[32], const unsigned char x[32], const unsigned char y[32],
            const unsigned char r[32], const unsigned char s[32]);

// True when (x, y) is a point of sm2p256v1 (both below p, on the curve).
bool IsOnCurve(const unsigned char x[32], const unsigned char y[32]);

}  // namespace sm2

#endif
