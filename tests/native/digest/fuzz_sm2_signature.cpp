// libFuzzer target: the SM2 signature and key readers and the verification behind them. The first
// byte picks the split of the rest into a signature (DER, or 64 raw bytes when the flag bit is set),
// a key (SPKI DER, or the 65-byte point) and a 32-byte digest. Whatever the bytes, nothing reads
// out of bounds, a key that is read is on the curve, and a signature read back from its DER gives
// the same r and s on a second reading of its canonical form.
#include "sm2verify.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned flags = data[0];
    const std::size_t cut = 1 + (size - 1) * data[1] / 256;
    const std::uint8_t* rest = data + 2;
    const std::size_t restSize = size - 2;
    const std::size_t sigSize = cut < restSize ? cut : restSize;
    // Copies, so that a read past either part is caught.
    std::vector<std::uint8_t> sig(rest, rest + sigSize), key(rest + sigSize, rest + restSize);
    unsigned char r[32], s[32], x[32], y[32], e[32] = {};
    bool haveSig;
    if (flags & 1) {
        haveSig = sig.size() >= 64;
        if (haveSig) {
            std::memcpy(r, sig.data(), 32);
            std::memcpy(s, sig.data() + 32, 32);
        }
    } else {
        haveSig = sm2::ReadDerSignature(sig.data(), sig.size(), r, s);
    }
    const sm2::KeyStatus status = (flags & 2) ? sm2::ReadPoint(key.data(), key.size(), x, y)
                                              : sm2::ReadPublicKeyInfo(key.data(), key.size(), x, y);
    if (status == sm2::KeyStatus::Ok && !sm2::IsOnCurve(x, y)) abort();
    if (status != sm2::KeyStatus::Ok) {
        // A key refused by the reader is never verified against; Verify must refuse it too when
        // handed its raw coordinates.
        if (key.size() >= 65 && key[0] == 0x04 && !sm2::IsOnCurve(key.data() + 1, key.data() + 33) &&
            haveSig && sm2::Verify(e, key.data() + 1, key.data() + 33, r, s))
            abort();
        return 0;
    }
    if (haveSig) {
        if (key.size() >= 32) std::memcpy(e, key.data() + key.size() - 32, 32);
        (void)sm2::Verify(e, x, y, r, s);
    }
    return 0;
}
