// The SM2 public key of a signer's certificate, read without a crypto library: base64 text ->
// DER X.509 certificate -> SubjectPublicKeyInfo -> a point of sm2p256v1, checked to lie on the
// curve. The reading is strict: whole DER with exactly the elements of an X.509 certificate, an
// SM2 key with no unused bits. The crypto engine companion judges every certificate with it before
// libksba and libgcrypt read it; builds that carry neither (the WebAssembly module) use it alone,
// with the same outcomes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sm2cert {

constexpr std::size_t kCoordSize = 32;

enum class Status {
    Ok,
    NoCertificate,   // no text, or only blanks
    BadBase64,       // not base64, or nothing in it
    BadCertificate,  // the bytes are not a DER X.509 certificate
    NotSm2Key,       // the key is not an EC key on curve 1.2.156.10197.1.301
    BadPublicKey,    // the key is not an uncompressed point on that curve, in whole bytes
};

struct Point {
    unsigned char x[kCoordSize];
    unsigned char y[kCoordSize];
};

// Base64 as the companion reads it: blanks, tabs and line breaks anywhere are skipped, so is a
// PEM armour line ("-----BEGIN ...-----"); padding is optional but, when present, ends the data.
bool DecodeBase64(const char* text, std::size_t length, std::vector<unsigned char>& out);

// A certificate may be followed by further whole DER elements (a chain's next certificate), which
// are not read; *certificate (when given) receives the first certificate's size in bytes.
Status KeyFromCertificate(const unsigned char* der, std::size_t length, Point& key,
                          std::size_t* certificate = nullptr);
Status KeyFromBase64Certificate(const char* text, std::size_t length, Point& key);

// True when (x, y), big-endian, are both below p and y^2 = x^3 + ax + b (mod p) on sm2p256v1.
bool IsOnCurve(const Point& key);

}  // namespace sm2cert
