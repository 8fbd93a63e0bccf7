// The engine's SM3 / SM2 Z-value core against an independent computation with OpenSSL: the
// curve parameters of OpenSSL's own SM2 group, the public key as OpenSSL reads the certificate,
// and OpenSSL's SM3. Certificates are made fresh by the openssl command for each run. The
// portable core's certificate reader (sm2cert.h, used where libksba is not) must give the same
// key and the same status for every certificate here.
#include "sm3z_core.h"
#include "sm2cert.h"

#include <gtest/gtest.h>
#include <gcrypt.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string g_dir;  // scratch directory holding the certificates

std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

Bytes ReadBytes(const std::string& path) {
    std::string s = ReadText(path);
    return Bytes(s.begin(), s.end());
}

void Run(const std::string& cmd) {
    const std::string full = "cd '" + g_dir + "' && " + cmd + " >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(full.c_str())) << cmd;
}

// Base64 body of a PEM file: the lines between the armour, joined with the given separator.
std::string PemBody(const std::string& pem, const std::string& sep) {
    std::istringstream in(pem);
    std::string line, out;
    bool first = true;
    while (std::getline(in, line)) {
        if (line.rfind("-----", 0) == 0) continue;
        if (!first) out += sep;
        out += line;
        first = false;
    }
    return out;
}

class Certificates : public ::testing::Environment {
public:
    void SetUp() override {
        char tmpl[] = "/tmp/sm3z-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        g_dir = tmpl;
        // Two SM2 certificates, one on prime256v1, one RSA.
        for (const char* n : {"sm2a", "sm2b"}) {
            Run(std::string("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out ") + n +
                ".key");
            Run(std::string("openssl req -x509 -new -key ") + n + ".key -sm3 -subj /CN=t -days 1 -out " +
                n + ".pem");
        }
        Run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out p256.key");
        Run("openssl req -x509 -new -key p256.key -sha256 -subj /CN=t -days 1 -out p256.pem");
        Run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out rsa.key");
        Run("openssl req -x509 -new -key rsa.key -sha256 -subj /CN=t -days 1 -out rsa.pem");
        for (const char* n : {"sm2a", "sm2b", "p256", "rsa"})
            Run(std::string("openssl x509 -in ") + n + ".pem -outform der -out " + n + ".der");
        ASSERT_EQ(OVALON_OK, ovalon::InitializeCrypto());
    }
    void TearDown() override {
        if (!g_dir.empty()) std::system(("rm -rf '" + g_dir + "'").c_str());
    }
};

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Certificates);

// ---- the independent computation ------------------------------------------------------------

Bytes OsslSm3(const Bytes& m) {
    Bytes d(32);
    unsigned int n = 0;
    EXPECT_EQ(1, EVP_Digest(m.data(), m.size(), d.data(), &n, EVP_sm3(), nullptr));
    return d;
}

void AppendBn(Bytes& out, const BIGNUM* bn) {
    Bytes b(32);
    ASSERT_EQ(32, BN_bn2binpad(bn, b.data(), 32));
    out.insert(out.end(), b.begin(), b.end());
}

// The uncompressed public point (04 || x || y) of a PEM certificate, as OpenSSL reads it.
Bytes OsslPublicPoint(const std::string& pemPath) {
    FILE* f = fopen(pemPath.c_str(), "r");
    EXPECT_NE(nullptr, f);
    if (!f) return {};
    X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr);
    fclose(f);
    EXPECT_NE(nullptr, x);
    EVP_PKEY* pk = X509_get0_pubkey(x);
    Bytes pt(65);
    size_t n = 0;
    EXPECT_EQ(1, EVP_PKEY_get_octet_string_param(pk, OSSL_PKEY_PARAM_PUB_KEY, pt.data(), pt.size(), &n));
    X509_free(x);
    EXPECT_EQ(65u, n);
    return pt;
}

Bytes OsslZ(const Bytes& point, const std::string& id) {
    std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(EC_GROUP_new_by_curve_name(NID_sm2),
                                                               EC_GROUP_free);
    BN_CTX* bn = BN_CTX_new();
    BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new(), *gx = BN_new(), *gy = BN_new();
    EXPECT_EQ(1, EC_GROUP_get_curve(group.get(), p, a, b, bn));
    EXPECT_EQ(1, EC_POINT_get_affine_coordinates(group.get(), EC_GROUP_get0_generator(group.get()),
                                                 gx, gy, bn));
    Bytes m;
    const unsigned entl = static_cast<unsigned>(id.size() * 8);
    m.push_back(static_cast<unsigned char>(entl >> 8));
    m.push_back(static_cast<unsigned char>(entl));
    m.insert(m.end(), id.begin(), id.end());
    AppendBn(m, a);
    AppendBn(m, b);
    AppendBn(m, gx);
    AppendBn(m, gy);
    m.insert(m.end(), point.begin() + 1, point.end());
    BN_free(p); BN_free(a); BN_free(b); BN_free(gx); BN_free(gy);
    BN_CTX_free(bn);
    return OsslSm3(m);
}

Bytes OsslSm3WithZ(const std::string& pemPath, const Bytes& msg) {
    Bytes zm = OsslZ(OsslPublicPoint(pemPath), "1234567812345678");
    zm.insert(zm.end(), msg.begin(), msg.end());
    return OsslSm3(zm);
}

// ---- the engine core --------------------------------------------------------------------------

// The portable reader's outcome as an engine status.
int CoreStatus(const std::string& text, ovalon::Sm2Point* key = nullptr) {
    sm2cert::Point point;
    switch (sm2cert::KeyFromBase64Certificate(text.data(), text.size(), point)) {
    case sm2cert::Status::Ok:
        if (key) {
            std::copy(point.x, point.x + 32, key->x);
            std::copy(point.y, point.y + 32, key->y);
        }
        return OVALON_OK;
    case sm2cert::Status::NoCertificate: return OVALON_E_NO_CERTIFICATE;
    case sm2cert::Status::BadBase64: return OVALON_E_BAD_BASE64;
    case sm2cert::Status::BadCertificate: return OVALON_E_BAD_CERTIFICATE;
    case sm2cert::Status::NotSm2Key: return OVALON_E_NOT_SM2_KEY;
    case sm2cert::Status::BadPublicKey: return OVALON_E_BAD_PUBLIC_KEY;
    }
    return -1;
}

struct Result {
    int status;
    Bytes digest;
};

Result Ours(int withZ, const char* cert, const Bytes& msg) {
    ovalon::Sm3Stream s;
    Result r{s.Begin(withZ, cert), {}};
    if (r.status != OVALON_OK) return r;
    s.Update(msg.data(), msg.size());
    r.digest.resize(32);
    r.status = s.Finish(r.digest.data());
    return r;
}

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto& c : v) c = static_cast<unsigned char>(rng());
    return v;
}

std::string Path(const char* name) { return g_dir + "/" + name; }

TEST(Sm3, PublishedVectors) {
    // The two examples of GB/T 32905: "abc" and "abcd" sixteen times.
    const std::string abc = "abc";
    std::string abcd;
    for (int i = 0; i < 16; ++i) abcd += "abcd";
    unsigned char d[32];
    ASSERT_EQ(OVALON_OK, ovalon::Sm3(abc.data(), abc.size(), d));
    EXPECT_EQ(Bytes({0x66, 0xc7, 0xf0, 0xf4, 0x62, 0xee, 0xed, 0xd9, 0xd1, 0xf2, 0xd4, 0x6b, 0xdc, 0x10, 0xe4, 0xe2,
                     0x41, 0x67, 0xc4, 0x87, 0x5c, 0xf2, 0xf7, 0xa2, 0x29, 0x7d, 0xa0, 0x2b, 0x8f, 0x4b, 0xa8, 0xe0}),
              Bytes(d, d + 32));
    ASSERT_EQ(OVALON_OK, ovalon::Sm3(abcd.data(), abcd.size(), d));
    EXPECT_EQ(Bytes({0xde, 0xbe, 0x9f, 0xf9, 0x22, 0x75, 0xb8, 0xa1, 0x38, 0x60, 0x48, 0x89, 0xc1, 0x8e, 0x5a, 0x4d,
                     0x6f, 0xdb, 0x70, 0xe5, 0x38, 0x7e, 0x57, 0x65, 0x29, 0x3d, 0xcb, 0xa3, 0x9c, 0x0c, 0x57, 0x32}),
              Bytes(d, d + 32));
}

TEST(Sm3, WithoutZIgnoresCertificate) {
    const Bytes msg = RandomBytes(100, 1);
    for (const char* cert : {static_cast<const char*>(nullptr), "", "not base64 at all!"}) {
        Result r = Ours(0, cert, msg);
        ASSERT_EQ(OVALON_OK, r.status);
        EXPECT_EQ(OsslSm3(msg), r.digest);
    }
    const std::string good = PemBody(ReadText(Path("sm2a.pem")), "");
    EXPECT_EQ(OsslSm3(msg), Ours(0, good.c_str(), msg).digest);
}

TEST(Sm2Z, KeyAndZMatchOpenSsl) {
    for (const char* n : {"sm2a", "sm2b"}) {
        const std::string pem = Path(n) + ".pem";
        const Bytes der = ReadBytes(Path(n) + ".der");
        ovalon::Sm2Point key;
        ASSERT_EQ(OVALON_OK, ovalon::Sm2KeyFromCertificate(der.data(), der.size(), key)) << n;
        const Bytes point = OsslPublicPoint(pem);
        EXPECT_EQ(Bytes(point.begin() + 1, point.begin() + 33), Bytes(key.x, key.x + 32)) << n;
        EXPECT_EQ(Bytes(point.begin() + 33, point.end()), Bytes(key.y, key.y + 32)) << n;
        ovalon::Sm2Point core{};
        ASSERT_EQ(OVALON_OK, CoreStatus(ReadText(pem), &core)) << n;
        EXPECT_EQ(Bytes(key.x, key.y + 32), Bytes(core.x, core.y + 32)) << n;

        unsigned char z[32];
        const std::string id = ovalon::kDefaultSm2Id;
        ASSERT_EQ(OVALON_OK, ovalon::Sm2ComputeZ(key, reinterpret_cast<const unsigned char*>(id.data()),
                                                  id.size(), z));
        EXPECT_EQ(OsslZ(point, id), Bytes(z, z + 32)) << n;

        // Another identifier, including the empty one, changes ENTL and the hashed ID.
        for (const std::string& other : {std::string("ALICE123@YAHOO.COM"), std::string()}) {
            ASSERT_EQ(OVALON_OK, ovalon::Sm2ComputeZ(
                                     key, reinterpret_cast<const unsigned char*>(other.data()),
                                     other.size(), z));
            EXPECT_EQ(OsslZ(point, other), Bytes(z, z + 32)) << n << " id '" << other << "'";
        }
    }
}

TEST(Sm2Z, DigestOfZAndMessage) {
    // Empty, under a block, exactly a block, over a block, several blocks.
    for (size_t len : {0, 3, 64, 65, 1000, 100000}) {
        const Bytes msg = RandomBytes(len, static_cast<unsigned>(len));
        for (const char* n : {"sm2a", "sm2b"}) {
            const std::string b64 = PemBody(ReadText(Path(n) + ".pem"), "");
            Result r = Ours(1, b64.c_str(), msg);
            ASSERT_EQ(OVALON_OK, r.status) << n;
            EXPECT_EQ(OsslSm3WithZ(Path(n) + ".pem", msg), r.digest) << n << " length " << len;
        }
    }
    // The two keys give different digests of the same message.
    const Bytes msg = RandomBytes(10, 9);
    EXPECT_NE(Ours(1, PemBody(ReadText(Path("sm2a.pem")), "").c_str(), msg).digest,
              Ours(1, PemBody(ReadText(Path("sm2b.pem")), "").c_str(), msg).digest);
}

TEST(Sm2Z, AnyNonZeroWithZCountsAsOne) {
    const Bytes msg = RandomBytes(50, 10);
    const std::string b64 = PemBody(ReadText(Path("sm2a.pem")), "");
    const Bytes want = OsslSm3WithZ(Path("sm2a.pem"), msg);
    for (int withZ : {1, 2, -1, 0x7fffffff}) EXPECT_EQ(want, Ours(withZ, b64.c_str(), msg).digest);
}

TEST(Sm2Z, Base64LayoutsAccepted) {
    const std::string pem = ReadText(Path("sm2a.pem"));
    const Bytes msg = RandomBytes(77, 11);
    const Bytes want = OsslSm3WithZ(Path("sm2a.pem"), msg);
    const std::string layouts[] = {
        PemBody(pem, ""),           // one line
        PemBody(pem, "\r\n"),       // CRLF every 64 characters
        PemBody(pem, "\n"),         // LF
        PemBody(pem, "\r\n\r\n"),   // blank lines between
        " \t" + PemBody(pem, " ") + "\r\n",  // blanks around and inside
        pem,                        // the full PEM armour
        pem + ReadText(Path("p256.pem")),  // a chain: the first certificate is the signer's
    };
    for (const auto& text : layouts) {
        Result r = Ours(1, text.c_str(), msg);
        ASSERT_EQ(OVALON_OK, r.status) << text;
        EXPECT_EQ(want, r.digest);
        EXPECT_EQ(OVALON_OK, CoreStatus(text)) << "portable reader: " << text;
    }
    // Splitting inside a group of four still decodes.
    std::string body = PemBody(pem, "");
    body.insert(5, "\r\n");
    body.insert(body.size() - 3, "\n \n");
    EXPECT_EQ(want, Ours(1, body.c_str(), msg).digest);
}

TEST(Sm2Z, CertificatesRefused) {
    const Bytes msg = RandomBytes(10, 12);
    const std::string sm2 = PemBody(ReadText(Path("sm2a.pem")), "");
    struct Case {
        std::string text;
        int status;
        const char* what;
    } cases[] = {
        {"", OVALON_E_NO_CERTIFICATE, "empty"},
        {" \r\n\t", OVALON_E_NO_CERTIFICATE, "blank"},
        {"MIIB*garbage", OVALON_E_BAD_BASE64, "not base64"},
        {sm2 + "A", OVALON_E_BAD_BASE64, "dangling sextet"},
        {sm2.substr(0, 4) + "=" + sm2.substr(5), OVALON_E_BAD_BASE64, "padding inside"},
        {"aGVsbG8gd29ybGQ=", OVALON_E_BAD_CERTIFICATE, "base64 of text"},
        {sm2.substr(0, sm2.size() / 2), OVALON_E_BAD_CERTIFICATE, "truncated"},
        {PemBody(ReadText(Path("p256.pem")), "\n"), OVALON_E_NOT_SM2_KEY, "prime256v1 key"},
        {PemBody(ReadText(Path("rsa.pem")), "\n"), OVALON_E_NOT_SM2_KEY, "RSA key"},
    };
    for (const auto& c : cases) {
        Result r = Ours(1, c.text.c_str(), msg);
        EXPECT_EQ(c.status, r.status) << c.what;
        EXPECT_EQ(c.status, CoreStatus(c.text)) << "portable reader: " << c.what;
        EXPECT_TRUE(r.digest.empty()) << c.what;
    }
    ovalon::Sm3Stream s;
    EXPECT_EQ(OVALON_E_NO_CERTIFICATE, s.Begin(1, nullptr));
}

// Base64 of DER bytes (for certificates we alter in memory).
std::string ToBase64(const Bytes& der) {
    std::string out((der.size() + 2) / 3 * 4 + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), der.data(),
                                  static_cast<int>(der.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

TEST(Sm2Z, PointOffTheCurveRefused) {
    Bytes der = ReadBytes(Path("sm2a.der"));
    const Bytes point = OsslPublicPoint(Path("sm2a.pem"));
    auto at = std::search(der.begin(), der.end(), point.begin(), point.end());
    ASSERT_NE(der.end(), at) << "public point not found in the DER";
    const Bytes msg = RandomBytes(10, 13);

    Bytes moved = der;
    moved[static_cast<size_t>(at - der.begin()) + 64] ^= 0x01;  // last byte of y
    ovalon::Sm2Point key;
    EXPECT_EQ(OVALON_E_BAD_PUBLIC_KEY, ovalon::Sm2KeyFromCertificate(moved.data(), moved.size(), key));
    EXPECT_EQ(OVALON_E_BAD_PUBLIC_KEY, Ours(1, ToBase64(moved).c_str(), msg).status);
    EXPECT_EQ(OVALON_E_BAD_PUBLIC_KEY, CoreStatus(ToBase64(moved)));

    // y replaced by p - y is the negated point: still on the curve, so accepted.
    Bytes negated = der;
    BIGNUM* p = BN_new();
    BIGNUM* y = BN_bin2bn(point.data() + 33, 32, nullptr);
    std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(EC_GROUP_new_by_curve_name(NID_sm2),
                                                               EC_GROUP_free);
    ASSERT_EQ(1, EC_GROUP_get_curve(group.get(), p, nullptr, nullptr, nullptr));
    BN_sub(y, p, y);
    BN_bn2binpad(y, &negated[static_cast<size_t>(at - der.begin()) + 33], 32);
    EXPECT_EQ(OVALON_OK, ovalon::Sm2KeyFromCertificate(negated.data(), negated.size(), key));
    EXPECT_EQ(OVALON_OK, CoreStatus(ToBase64(negated)));

    // A curve identifier whose last byte still says "continued" is not the SM2 curve, though
    // libksba reads it as one.
    const unsigned char sm2Curve[] = {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};
    auto oid = std::search(der.begin(), der.end(), std::begin(sm2Curve), std::end(sm2Curve));
    ASSERT_NE(der.end(), oid) << "SM2 curve identifier not found in the DER";
    Bytes continued = der;
    continued[static_cast<size_t>(oid - der.begin()) + 9] |= 0x80;
    EXPECT_EQ(OVALON_E_NOT_SM2_KEY, ovalon::Sm2KeyFromCertificate(continued.data(), continued.size(), key));
    EXPECT_EQ(OVALON_E_NOT_SM2_KEY, CoreStatus(ToBase64(continued)));

    // A compressed-point marker is refused.
    Bytes compressed = der;
    compressed[static_cast<size_t>(at - der.begin())] = 0x02;
    EXPECT_EQ(OVALON_E_BAD_PUBLIC_KEY, ovalon::Sm2KeyFromCertificate(compressed.data(), compressed.size(), key));
    EXPECT_EQ(OVALON_E_BAD_PUBLIC_KEY, CoreStatus(ToBase64(compressed)));
    BN_free(p);
    BN_free(y);
}

TEST(Sm2Z, FileStreamedInBlocksEqualsDataHash) {
    const Bytes data = RandomBytes(3 * 65536 + 123, 14);
    const std::string file = Path("data.bin");
    {
        std::ofstream f(file, std::ios::binary);
        f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    const std::string b64 = PemBody(ReadText(Path("sm2b.pem")), "\r\n");
    for (int withZ : {0, 1}) {
        ovalon::Sm3Stream s;
        ASSERT_EQ(OVALON_OK, s.Begin(withZ, b64.c_str()));
        FILE* f = fopen(file.c_str(), "rb");
        ASSERT_NE(nullptr, f);
        unsigned char block[65536];
        size_t n;
        while ((n = fread(block, 1, sizeof block, f)) > 0) s.Update(block, n);
        fclose(f);
        Bytes d(32);
        ASSERT_EQ(OVALON_OK, s.Finish(d.data()));
        EXPECT_EQ(Ours(withZ, b64.c_str(), data).digest, d) << "withZ " << withZ;
    }
    // And the plain digest of the file agrees with `openssl dgst -sm3`.
    FILE* p = popen(("openssl dgst -sm3 -r '" + file + "'").c_str(), "r");
    ASSERT_NE(nullptr, p);
    char line[256] = {};
    ASSERT_NE(nullptr, fgets(line, sizeof line, p));
    pclose(p);
    unsigned char d[32];
    ASSERT_EQ(OVALON_OK, ovalon::Sm3(data.data(), data.size(), d));
    static const char k[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : d) { hex += k[c >> 4]; hex += k[c & 15]; }
    EXPECT_EQ(hex, std::string(line).substr(0, 64));
}

}  // namespace
