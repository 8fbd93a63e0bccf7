// libFuzzer target: the engine's certificate path, text or DER in, SM2 key and Z value out.
// The first input byte picks the entry: even feeds the rest as base64 text (what the control
// passes), odd feeds it as DER straight to the certificate parser. The portable reader of the
// core (sm2cert.h) is run beside the engine and must not contradict it (see below).
#include "sm3z_core.h"
#include "sm2cert.h"

#include <cstring>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = ovalon::InitializeCrypto() == OVALON_OK;
    if (!ready) abort();
    if (size == 0) return 0;

    ovalon::Sm2Point key;
    sm2cert::Point coreKey;
    sm2cert::Status core;
    int rc;
    if ((data[0] & 1) == 0) {
        // The engine reads NUL-terminated text: the portable reader gets the same characters.
        const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        rc = ovalon::Sm2KeyFromBase64Certificate(text.c_str(), key);
        core = sm2cert::KeyFromBase64Certificate(text.c_str(), std::strlen(text.c_str()), coreKey);
        // The streaming entry takes the same path and must agree.
        ovalon::Sm3Stream s;
        if (s.Begin(1, text.c_str()) != rc) abort();
    } else {
        rc = ovalon::Sm2KeyFromCertificate(data + 1, size - 1, key);
        core = sm2cert::KeyFromCertificate(data + 1, size - 1, coreKey);
    }
    const int coreRc = core == sm2cert::Status::Ok               ? OVALON_OK
                       : core == sm2cert::Status::NoCertificate  ? OVALON_E_NO_CERTIFICATE
                       : core == sm2cert::Status::BadBase64      ? OVALON_E_BAD_BASE64
                       : core == sm2cert::Status::BadCertificate ? OVALON_E_BAD_CERTIFICATE
                       : core == sm2cert::Status::NotSm2Key      ? OVALON_E_NOT_SM2_KEY
                                                                 : OVALON_E_BAD_PUBLIC_KEY;
    // libksba's reading of a mangled or cut-off certificate has rules of its own (the engine may
    // accept a certificate cut off after the key, or refuse one the portable reader takes): on
    // such input either may refuse where the other does not. Where both read the key they judge
    // it alike (not SM2, bad point) and give the same point.
    const bool bothRead = rc != OVALON_E_BAD_CERTIFICATE && rc != OVALON_E_BAD_BASE64 &&
                          coreRc != OVALON_E_BAD_CERTIFICATE && coreRc != OVALON_E_BAD_BASE64;
    if (bothRead && coreRc != rc) abort();
    if (rc == OVALON_OK && coreRc == OVALON_OK && (std::memcmp(key.x, coreKey.x, 32) != 0 || std::memcmp(key.y, coreKey.y, 32) != 0))
        abort();
    if (rc == OVALON_OK) {
        unsigned char z[ovalon::kSm3Size];
        if (ovalon::Sm2ComputeZ(key, reinterpret_cast<const unsigned char*>(ovalon::kDefaultSm2Id), 16, z) !=
            OVALON_OK)
            abort();
    }
    return 0;
}
