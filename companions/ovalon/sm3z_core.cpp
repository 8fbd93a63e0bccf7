#include "sm3z_core.h"

#include "sm2cert.h"

#include "sm2_z.h"

#include <gcrypt.h>
#include <ksba.h>

#include <cstring>

namespace ovalon {

const char kDefaultSm2Id[] = "1234567812345678";

namespace {

const char kSm2CurveOid[] = "1.2.156.10197.1.301";
const char kSm2CurveName[] = "sm2p256v1";  // libgcrypt's name for that curve

// ---- small owners for the libraries' handles -------------------------------------------------

struct KsbaCert {
    ksba_cert_t h = nullptr;
    ~KsbaCert() { ksba_cert_release(h); }
};
struct KsbaSexp {
    ksba_sexp_t p = nullptr;
    ~KsbaSexp() { ksba_free(p); }
};
struct Sexp {
    gcry_sexp_t s = nullptr;
    ~Sexp() { gcry_sexp_release(s); }
};
struct Mpi {
    gcry_mpi_t m = nullptr;
    ~Mpi() { gcry_mpi_release(m); }
};
struct EcCtx {
    gcry_ctx_t c = nullptr;
    ~EcCtx() { gcry_ctx_release(c); }
};
struct EcPoint {
    gcry_mpi_point_t p = nullptr;
    ~EcPoint() { gcry_mpi_point_release(p); }
};

int NewSm2Context(EcCtx& ctx) {
    return gcry_mpi_ec_new(&ctx.c, nullptr, kSm2CurveName) == 0 ? OVALON_OK : OVALON_E_CRYPTO;
}

// Checks that (x, y) is a point of sm2p256v1 with both coordinates reduced below p.
int CheckOnCurve(const Sm2Point& key) {
    EcCtx ctx;
    if (NewSm2Context(ctx) != OVALON_OK) return OVALON_E_CRYPTO;
    Mpi p, x, y;
    p.m = gcry_mpi_ec_get_mpi("p", ctx.c, 1);
    if (!p.m) return OVALON_E_CRYPTO;
    if (gcry_mpi_scan(&x.m, GCRYMPI_FMT_USG, key.x, kCoordSize, nullptr) != 0 ||
        gcry_mpi_scan(&y.m, GCRYMPI_FMT_USG, key.y, kCoordSize, nullptr) != 0)
        return OVALON_E_CRYPTO;
    if (gcry_mpi_cmp(x.m, p.m) >= 0 || gcry_mpi_cmp(y.m, p.m) >= 0) return OVALON_E_BAD_PUBLIC_KEY;

    EcPoint pt;
    pt.p = gcry_mpi_point_new(0);
    if (!pt.p) return OVALON_E_OUT_OF_MEMORY;
    gcry_mpi_point_set(pt.p, x.m, y.m, GCRYMPI_CONST_ONE);
    return gcry_mpi_ec_curve_point(pt.p, ctx.c) ? OVALON_OK : OVALON_E_BAD_PUBLIC_KEY;
}

bool IsBase64Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsBlank(const char* s) {
    for (; *s; ++s)
        if (!IsBase64Space(*s)) return false;
    return true;
}

}  // namespace

int InitializeCrypto() {
    if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) return OVALON_OK;
    if (!gcry_check_version(GCRYPT_VERSION)) return OVALON_E_INIT_FAILED;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    // The SM2 curve must be usable for the point check (a FIPS-mode library would refuse it).
    EcCtx ctx;
    return NewSm2Context(ctx) == OVALON_OK ? OVALON_OK : OVALON_E_INIT_FAILED;
}

// The same reading the browser build uses (one decoder for both).
bool DecodeBase64(const char* text, std::vector<unsigned char>& out) {
    return sm2cert::DecodeBase64(text, std::strlen(text), out);
}

int Sm2KeyFromCertificate(const unsigned char* der, std::size_t length, Sm2Point& key) {
    if (!der || length == 0) return OVALON_E_BAD_CERTIFICATE;
    // The portable reader judges first: libksba reads only a certificate whose every element is
    // where a certificate has it and whose key is an SM2 point (on other input it loses memory,
    // or writes warnings to standard error, call after call).
    sm2cert::Point exact;
    std::size_t size = 0;  // of the certificate alone: libksba sees nothing after it
    switch (sm2cert::KeyFromCertificate(der, length, exact, &size)) {
    case sm2cert::Status::Ok: break;
    case sm2cert::Status::NotSm2Key: return OVALON_E_NOT_SM2_KEY;
    case sm2cert::Status::BadPublicKey: return OVALON_E_BAD_PUBLIC_KEY;
    default: return OVALON_E_BAD_CERTIFICATE;
    }
    KsbaCert cert;
    if (ksba_cert_new(&cert.h) != 0) return OVALON_E_OUT_OF_MEMORY;
    if (ksba_cert_init_from_mem(cert.h, der, size) != 0) return OVALON_E_BAD_CERTIFICATE;

    KsbaSexp spki;  // freed on every path below
    spki.p = ksba_cert_get_public_key(cert.h);
    if (!spki.p) return OVALON_E_BAD_CERTIFICATE;
    const size_t spkiLen = gcry_sexp_canon_len(spki.p, 0, nullptr, nullptr);
    if (spkiLen == 0) return OVALON_E_BAD_CERTIFICATE;
    Sexp pk;
    if (gcry_sexp_new(&pk.s, spki.p, spkiLen, 0) != 0) return OVALON_E_BAD_CERTIFICATE;

    // Expected shape: (public-key (ecc (curve "1.2.156.10197.1.301") (q #04 x y#)))
    Sexp ecc;
    ecc.s = gcry_sexp_find_token(pk.s, "ecc", 0);
    if (!ecc.s) return OVALON_E_NOT_SM2_KEY;
    Sexp curve;
    curve.s = gcry_sexp_find_token(ecc.s, "curve", 0);
    if (!curve.s) return OVALON_E_NOT_SM2_KEY;
    size_t nameLen = 0;
    const char* name = gcry_sexp_nth_data(curve.s, 1, &nameLen);
    const size_t oidLen = sizeof kSm2CurveOid - 1;
    if (!name || nameLen != oidLen || std::memcmp(name, kSm2CurveOid, oidLen) != 0)
        return OVALON_E_NOT_SM2_KEY;

    Sexp q;
    q.s = gcry_sexp_find_token(ecc.s, "q", 0);
    if (!q.s) return OVALON_E_BAD_PUBLIC_KEY;
    size_t qLen = 0;
    const char* qData = gcry_sexp_nth_data(q.s, 1, &qLen);
    if (!qData || qLen != 1 + 2 * kCoordSize || static_cast<unsigned char>(qData[0]) != 0x04)
        return OVALON_E_BAD_PUBLIC_KEY;
    std::memcpy(key.x, qData + 1, kCoordSize);
    std::memcpy(key.y, qData + 1 + kCoordSize, kCoordSize);
    return CheckOnCurve(key);
}

int Sm2KeyFromBase64Certificate(const char* base64, Sm2Point& key) {
    if (!base64 || IsBlank(base64)) return OVALON_E_NO_CERTIFICATE;
    std::vector<unsigned char> der;
    if (!DecodeBase64(base64, der) || der.empty()) return OVALON_E_BAD_BASE64;
    return Sm2KeyFromCertificate(der.data(), der.size(), key);
}

int Sm2ComputeZ(const Sm2Point& key, const unsigned char* id, std::size_t idLength,
                unsigned char z[kSm3Size]) {
    if (idLength > 8191 || (!id && idLength != 0)) return OVALON_E_INVALID_ARG;
    return digest::ComputeSm2Z(key.x, key.y, id, idLength, z) ? OVALON_OK : OVALON_E_INVALID_ARG;
}

// ---- Sm3Stream ---------------------------------------------------------------------------------

Sm3Stream::Sm3Stream() : ready_(false) {}

Sm3Stream::~Sm3Stream() = default;

int Sm3Stream::Open() {
    md_.Reset();
    ready_ = true;
    return OVALON_OK;
}

int Sm3Stream::Begin(int withZ, const char* base64Cert) {
    if (withZ == 0) return Open();
    Sm2Point key;
    const int rc = Sm2KeyFromBase64Certificate(base64Cert, key);
    if (rc != OVALON_OK) {
        ready_ = false;
        return rc;
    }
    return BeginWithKey(key, reinterpret_cast<const unsigned char*>(kDefaultSm2Id),
                        sizeof kDefaultSm2Id - 1);
}

int Sm3Stream::BeginWithKey(const Sm2Point& key, const unsigned char* id, std::size_t idLength) {
    unsigned char z[kSm3Size];
    const int rc = Sm2ComputeZ(key, id, idLength, z);
    if (rc != OVALON_OK) {
        ready_ = false;
        return rc;
    }
    Open();
    md_.Update(z, kSm3Size);
    return OVALON_OK;
}

void Sm3Stream::Update(const void* data, std::size_t length) {
    if (ready_ && length) md_.Update(data, length);
}

int Sm3Stream::Finish(unsigned char digest[kSm3Size]) {
    if (!ready_) return OVALON_E_CRYPTO;
    md_.Final(digest);
    ready_ = false;
    return OVALON_OK;
}

int Sm3(const void* data, std::size_t length, unsigned char digest[kSm3Size]) {
    digest::Sm3::Hash(data, length, digest);
    return OVALON_OK;
}

}  // namespace ovalon
