#include "CSHA256.h"

void CSHA256::ToHex(char* text, const unsigned char digest[digest::Sha256::kDigestSize]) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < digest::Sha256::kDigestSize; ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    text[kHexLength] = '\0';
}

void CSHA256::HashToHex(char* text, const unsigned char* data, unsigned int length) {
    unsigned char d[digest::Sha256::kDigestSize];
    digest::Sha256 ctx;
    if (length != 0) ctx.Update(data, length);
    ctx.Final(d);
    ToHex(text, d);
}
