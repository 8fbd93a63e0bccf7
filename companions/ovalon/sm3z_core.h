// The engine's SM3 and SM2 Z-value core: certificate -> public key -> Z -> SM3(Z || M).
//
// Portable C++, with no Windows headers, so the same file builds into the DLL (mingw) and into the
// Linux-native tests and fuzz target. SM3 and the Z value are our own (src/core); the core's
// certificate reader judges the certificate, libksba then reads the key from what it accepted and
// libgcrypt checks the point is on the curve. Results are the status values of ovalon.h.
#ifndef OVALON_SM3Z_CORE_H
#define OVALON_SM3Z_CORE_H

#include <cstddef>
#include <string>
#include <vector>

#include "ovalon.h"
#include "sm3.h"

namespace ovalon {

constexpr std::size_t kSm3Size = 32;
constexpr std::size_t kCoordSize = 32;  // bytes per coordinate on sm2p256v1

// The distinguishing identifier used when the caller gives none: "1234567812345678".
extern const char kDefaultSm2Id[];

// Sets libgcrypt up once per process (version check, no secure memory, initialisation finished)
// and checks it offers the SM2 curve. OVALON_OK or OVALON_E_INIT_FAILED. Safe to call repeatedly.
int InitializeCrypto();

// Decodes base64 text. Whitespace (space, tab, CR, LF) anywhere is skipped; a PEM armour line
// ("-----BEGIN ...-----", "-----END ...-----") is skipped; padding is optional but, when present,
// ends the data. Returns false on any other character or an impossible length.
bool DecodeBase64(const char* text, std::vector<unsigned char>& out);

// An SM2 public key point, coordinates big-endian, each 32 bytes.
struct Sm2Point {
    unsigned char x[kCoordSize];
    unsigned char y[kCoordSize];
};

// Reads the subject public key of a DER X.509 certificate and checks it is an SM2 key
// (curve 1.2.156.10197.1.301) given as an uncompressed point on that curve.
// OVALON_OK, OVALON_E_BAD_CERTIFICATE, OVALON_E_NOT_SM2_KEY, OVALON_E_BAD_PUBLIC_KEY,
// OVALON_E_CRYPTO.
int Sm2KeyFromCertificate(const unsigned char* der, std::size_t length, Sm2Point& key);

// The same from base64 text; adds OVALON_E_NO_CERTIFICATE (null or blank text) and
// OVALON_E_BAD_BASE64.
int Sm2KeyFromBase64Certificate(const char* base64, Sm2Point& key);

// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA) on sm2p256v1. id may hold up to 8191 bytes;
// OVALON_E_INVALID_ARG past that, or for a null id with a length.
int Sm2ComputeZ(const Sm2Point& key, const unsigned char* id, std::size_t idLength,
                unsigned char z[kSm3Size]);

// Streaming SM3, optionally of Z || M.
class Sm3Stream {
public:
    Sm3Stream();
    ~Sm3Stream();
    Sm3Stream(const Sm3Stream&) = delete;
    Sm3Stream& operator=(const Sm3Stream&) = delete;

    // Starts a digest. withZ == 0 ignores base64Cert; otherwise the certificate's Z value with the
    // default ID is fed first. Returns a status; on failure the stream is not ready.
    int Begin(int withZ, const char* base64Cert);
    // Starts a digest of Z || M with a key already at hand.
    int BeginWithKey(const Sm2Point& key, const unsigned char* id, std::size_t idLength);
    void Update(const void* data, std::size_t length);
    // Writes the digest; the stream must be begun again before reuse.
    int Finish(unsigned char digest[kSm3Size]);

private:
    int Open();
    digest::Sm3 md_;
    bool ready_;  // begun and not yet finished
};

// One-shot SM3 of a buffer.
int Sm3(const void* data, std::size_t length, unsigned char digest[kSm3Size]);

}  // namespace ovalon

#endif
