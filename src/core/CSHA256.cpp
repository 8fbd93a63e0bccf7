#include "CSHA256.h"
#include "hex.h"

void CSHA256::ToHex(char* text, const unsigned char digest[digest::Sha256::kDigestSize]) {
    hex::Write(text, digest, digest::Sha256::kDigestSize);
    text[kHexLength] = '\0';
}

void CSHA256::HashToHex(char* text, const unsigned char* data, unsigned int length) {
    unsigned char d[digest::Sha256::kDigestSize];
    digest::Sha256 ctx;
    if (length != 0) ctx.Update(data, length);
    ctx.Final(d);
    ToHex(text, d);
}
