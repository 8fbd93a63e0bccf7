// libFuzzer target: the engine's certificate path, text or DER in, SM2 key and Z value out.
// The first input byte picks the entry: even feeds the rest as base64 text (what the control
// passes), odd feeds it as DER straight to the certificate parser.
#include "sm3z_core.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = ovalon::InitializeCrypto() == OVALON_OK;
    if (!ready) abort();
    if (size == 0) return 0;

    ovalon::Sm2Point key;
    int rc;
    if ((data[0] & 1) == 0) {
        const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        rc = ovalon::Sm2KeyFromBase64Certificate(text.c_str(), key);
        // The streaming entry takes the same path and must agree.
        ovalon::Sm3Stream s;
        if (s.Begin(1, text.c_str()) != rc) abort();
    } else {
        rc = ovalon::Sm2KeyFromCertificate(data + 1, size - 1, key);
    }
    if (rc == OVALON_OK) {
        unsigned char z[ovalon::kSm3Size];
        if (ovalon::Sm2ComputeZ(key, reinterpret_cast<const unsigned char*>(ovalon::kDefaultSm2Id), 16, z) !=
            OVALON_OK)
            abort();
    }
    return 0;
}
