// SHA-256 as upper-case hex text: one-shot digests over the streaming core, and the rendering of
// a digest computed by streaming.
#ifndef TARNWICK_DIGEST_CSHA256_H
#define TARNWICK_DIGEST_CSHA256_H

#include "sha256.h"

class CSHA256 {
public:
    static const unsigned int kHexLength = 64;  // digits, without the NUL

    // Writes the digest of data[0..length) as 64 upper-case hex digits (H0..H7, each as
    // eight digits, most significant first) plus a NUL into text, which must hold 65 chars.
    // data is not read when length is 0 (it may then be null).
    void HashToHex(char* text, const unsigned char* data, unsigned int length);

    // Renders a 32-byte digest the same way (64 digits plus a NUL).
    static void ToHex(char* text, const unsigned char digest[digest::Sha256::kDigestSize]);
};

#endif
