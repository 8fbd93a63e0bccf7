// Our SM2 verification against OpenSSL (signing and verifying) and libgcrypt (verifying), over a
// few hundred random keys and messages and their damaged forms, and the readers of signatures and
// keys against the encodings OpenSSL writes.
#include "sm2_z.h"
#include "sm2verify.h"
#include "sm3.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes kOrder = {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                      0x72, 0x03, 0xDF, 0x6B, 0x21, 0xC6, 0x05, 0x2B, 0x53, 0xBB, 0xF4, 0x09, 0x39, 0xD5, 0x41, 0x23};

Bytes Hex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

struct Key {
    EVP_PKEY* pkey = nullptr;
    Bytes point;  // 04 || x || y
    Bytes spki;
    ~Key() { EVP_PKEY_free(pkey); }
};

void MakeKey(Key& key) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    ASSERT_NE(nullptr, ctx);
    ASSERT_EQ(1, EVP_PKEY_keygen_init(ctx));
    ASSERT_EQ(1, EVP_PKEY_generate(ctx, &key.pkey));
    EVP_PKEY_CTX_free(ctx);
    key.point.resize(65);
    size_t n = 0;
    ASSERT_EQ(1, EVP_PKEY_get_octet_string_param(key.pkey, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, key.point.data(), 65, &n));
    ASSERT_EQ(65u, n);
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key.pkey, &der);
    ASSERT_GT(length, 0);
    key.spki.assign(der, der + length);
    OPENSSL_free(der);
}

EVP_MD_CTX* Context(EVP_PKEY* pkey, const std::string& id, bool sign) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = nullptr;
    const int ok = sign ? EVP_DigestSignInit(md, &pctx, EVP_sm3(), nullptr, pkey)
                        : EVP_DigestVerifyInit(md, &pctx, EVP_sm3(), nullptr, pkey);
    EXPECT_EQ(1, ok);
    EXPECT_GT(EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size()), 0);
    return md;
}

Bytes OpenSslSign(EVP_PKEY* pkey, const std::string& id, const Bytes& message) {
    EVP_MD_CTX* md = Context(pkey, id, true);
    size_t length = 0;
    EXPECT_EQ(1, EVP_DigestSign(md, nullptr, &length, message.data(), message.size()));
    Bytes sig(length);
    EXPECT_EQ(1, EVP_DigestSign(md, sig.data(), &length, message.data(), message.size()));
    sig.resize(length);
    EVP_MD_CTX_free(md);
    return sig;
}

bool OpenSslVerify(EVP_PKEY* pkey, const std::string& id, const Bytes& message, const Bytes& sig) {
    EVP_MD_CTX* md = Context(pkey, id, false);
    const int ok = EVP_DigestVerify(md, sig.data(), sig.size(), message.data(), message.size());
    EVP_MD_CTX_free(md);
    return ok == 1;
}

// e = SM3(Z || message), Z from our core.
Bytes Digest(const Bytes& point, const std::string& id, const Bytes& message) {
    unsigned char z[32];
    EXPECT_TRUE(digest::ComputeSm2Z(point.data() + 1, point.data() + 33,
                                    reinterpret_cast<const unsigned char*>(id.data()), id.size(), z));
    digest::Sm3 h;
    h.Update(z, 32);
    h.Update(message.data(), message.size());
    Bytes e(32);
    h.Final(e.data());
    return e;
}

// Ours over a DER signature: false for one the reader refuses.
bool OursDer(const Bytes& e, const Bytes& point, const Bytes& der) {
    unsigned char r[32], s[32];
    if (!sm2::ReadDerSignature(der.data(), der.size(), r, s)) return false;
    return sm2::Verify(e.data(), point.data() + 1, point.data() + 33, r, s);
}

bool Gcrypt(const Bytes& e, const Bytes& point, const unsigned char r[32], const unsigned char s[32]) {
    gcry_sexp_t key = nullptr, sig = nullptr, data = nullptr;
    EXPECT_EQ(0u, gcry_sexp_build(&key, nullptr, "(public-key (ecc (curve sm2p256v1) (q %b)))", 65, point.data()));
    EXPECT_EQ(0u, gcry_sexp_build(&sig, nullptr, "(sig-val (sm2 (r %b) (s %b)))", 32, r, 32, s));
    EXPECT_EQ(0u, gcry_sexp_build(&data, nullptr, "(data (flags sm2 raw) (value %b))", 32, e.data()));
    const gcry_error_t err = gcry_pk_verify(sig, data, key);
    gcry_sexp_release(key);
    gcry_sexp_release(sig);
    gcry_sexp_release(data);
    return err == 0;
}

// DER of SEQUENCE { INTEGER r, INTEGER s } for big-endian magnitudes, minimal.
Bytes EncodeInteger(Bytes v) {
    while (v.size() > 1 && v[0] == 0 && !(v[1] & 0x80)) v.erase(v.begin());
    if (v[0] & 0x80) v.insert(v.begin(), 0);
    Bytes out = {0x02, static_cast<unsigned char>(v.size())};
    out.insert(out.end(), v.begin(), v.end());
    return out;
}
Bytes EncodeSignature(const Bytes& r, const Bytes& s) {
    Bytes body = EncodeInteger(r), second = EncodeInteger(s);
    body.insert(body.end(), second.begin(), second.end());
    Bytes out = {0x30, static_cast<unsigned char>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes AddSmall(Bytes v, int k) {
    for (int i = 31; i >= 0 && k; --i) {
        const int sum = v[i] + k;
        v[i] = static_cast<unsigned char>(sum);
        k = sum >> 8;
    }
    return v;
}

class Sm2Verify : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(nullptr, gcry_check_version(nullptr)); }
};

// The signature example with sm2p256v1: key, id 1234567812345678, "message digest".
TEST_F(Sm2Verify, StandardExample) {
    const Bytes point = Hex("04"
                            "09F9DF311E5421A150DD7D161E4BC5C672179FAD1833FC076BB08FF356F35020"
                            "CCEA490CE26775A52DC6EA718CC1AA600AED05FBF35E084A6632F6072DA9AD13");
    const Bytes r = Hex("F5A03B0648D2C4630EEAC513E1BB81A15944DA3827D5B74143AC7EACEEE720B3");
    const Bytes s = Hex("B1B6AA29DF212FD8763182BC0D421CA1BB9038FD1F7F42D4840B69C485BBC1AA");
    const std::string text = "message digest";
    const Bytes e = Digest(point, digest::kSm2DefaultId, Bytes(text.begin(), text.end()));
    EXPECT_TRUE(sm2::Verify(e.data(), point.data() + 1, point.data() + 33, r.data(), s.data()));
    EXPECT_TRUE(Gcrypt(e, point, r.data(), s.data()));
    const Bytes other = Digest(point, "ALICE123@YAHOO.COM", Bytes(text.begin(), text.end()));
    EXPECT_FALSE(sm2::Verify(other.data(), point.data() + 1, point.data() + 33, r.data(), s.data()));
}

// OpenSSL signs; OpenSSL, libgcrypt and we verify, then each damaged form is refused by all.
TEST_F(Sm2Verify, AgreesWithOpenSslAndLibgcryptOnRandomKeys) {
    std::mt19937 rng(20261208);
    int checked = 0;
    for (int round = 0; round < 300; ++round) {
        Key key;
        MakeKey(key);
        if (HasFatalFailure()) return;
        Bytes message(rng() % 300);
        for (auto& c : message) c = static_cast<unsigned char>(rng());
        const std::string id = round % 3 == 0 ? digest::kSm2DefaultId : "ALICE123@YAHOO.COM" + std::to_string(round);
        const Bytes der = OpenSslSign(key.pkey, id, message);
        const Bytes e = Digest(key.point, id, message);
        unsigned char r[32], s[32];
        ASSERT_TRUE(sm2::ReadDerSignature(der.data(), der.size(), r, s)) << round;
        ASSERT_TRUE(sm2::Verify(e.data(), key.point.data() + 1, key.point.data() + 33, r, s)) << round;
        ASSERT_TRUE(Gcrypt(e, key.point, r, s)) << round;
        ASSERT_TRUE(OpenSslVerify(key.pkey, id, message, der)) << round;
        unsigned char x[32], y[32];
        ASSERT_EQ(sm2::KeyStatus::Ok, sm2::ReadPublicKeyInfo(key.spki.data(), key.spki.size(), x, y));
        ASSERT_EQ(0, std::memcmp(x, key.point.data() + 1, 32));
        ASSERT_EQ(0, std::memcmp(y, key.point.data() + 33, 32));

        // A bit of r, of s, of the message; a wrong id.
        const int bit = static_cast<int>(rng() % 256);
        for (int which = 0; which < 2; ++which) {
            unsigned char rr[32], ss[32];
            std::memcpy(rr, r, 32);
            std::memcpy(ss, s, 32);
            (which ? ss : rr)[bit / 8] ^= static_cast<unsigned char>(1 << (bit % 8));
            EXPECT_FALSE(sm2::Verify(e.data(), key.point.data() + 1, key.point.data() + 33, rr, ss)) << round;
            EXPECT_FALSE(Gcrypt(e, key.point, rr, ss)) << round;
            const Bytes damaged = EncodeSignature(Bytes(rr, rr + 32), Bytes(ss, ss + 32));
            EXPECT_FALSE(OpenSslVerify(key.pkey, id, message, damaged)) << round;
        }
        Bytes changed = message;
        changed.push_back(static_cast<unsigned char>(rng()));
        if (!message.empty()) { changed = message; changed[rng() % message.size()] ^= 1; }
        EXPECT_FALSE(OursDer(Digest(key.point, id, changed), key.point, der)) << round;
        EXPECT_FALSE(OpenSslVerify(key.pkey, id, changed, der)) << round;
        EXPECT_FALSE(OursDer(Digest(key.point, id + "x", message), key.point, der)) << round;

        // A bit of the key: off the curve, refused by the reader and by Verify.
        Bytes bent = key.point;
        bent[1 + rng() % 64] ^= static_cast<unsigned char>(1 << (rng() % 8));
        unsigned char bx[32], by[32];
        EXPECT_EQ(sm2::KeyStatus::OffCurve, sm2::ReadPoint(bent.data(), bent.size(), bx, by)) << round;
        EXPECT_FALSE(sm2::Verify(e.data(), bent.data() + 1, bent.data() + 33, r, s)) << round;

        // r or s = 0, n, n + 1, and s = n - r (t = 0): in range checks, not arithmetic.
        const Bytes rb(r, r + 32), sb(s, s + 32), zero(32, 0);
        for (const Bytes& bad : {zero, kOrder, AddSmall(kOrder, 1)}) {
            for (int which = 0; which < 2; ++which) {
                const Bytes sig = which ? EncodeSignature(rb, bad) : EncodeSignature(bad, sb);
                EXPECT_FALSE(OursDer(e, key.point, sig)) << round;
                EXPECT_FALSE(OpenSslVerify(key.pkey, id, message, sig)) << round;
            }
        }
        // r + s = n: t = 0.
        Bytes minus(32);
        int borrow = 0;
        for (int i = 31; i >= 0; --i) {
            const int d = kOrder[i] - r[i] - borrow;
            minus[i] = static_cast<unsigned char>(d);
            borrow = d < 0;
        }
        EXPECT_FALSE(OursDer(e, key.point, EncodeSignature(rb, minus))) << round;
        // r + n: the same value mod n, which must not pass (r is taken as given, never reduced).
        if (r[0] == 0) {
            Bytes plus(32);
            int carry = 0;
            for (int i = 31; i >= 0; --i) {
                const int sum = kOrder[i] + r[i] + carry;
                plus[i] = static_cast<unsigned char>(sum);
                carry = sum >> 8;
            }
            if (!carry) {
                EXPECT_FALSE(OursDer(e, key.point, EncodeSignature(plus, sb))) << round;
            }
        }

        // Non-canonical DER: a long length, a padded integer, a trailing byte. OpenSSL too refuses.
        Bytes longForm = der;
        longForm.insert(longForm.begin() + 1, 0x81);
        Bytes padded = EncodeSignature(rb, sb);
        {
            Bytes body(padded.begin() + 2, padded.end());
            body.insert(body.begin() + 2, 0x00);
            body[1] = static_cast<unsigned char>(body[1] + 1);
            padded = {0x30, static_cast<unsigned char>(body.size())};
            padded.insert(padded.end(), body.begin(), body.end());
        }
        Bytes trailing = der;
        trailing.push_back(0);
        for (const Bytes& sig : {longForm, padded, trailing}) {
            EXPECT_FALSE(OursDer(e, key.point, sig)) << round;
            EXPECT_FALSE(OpenSslVerify(key.pkey, id, message, sig)) << round;
        }
        ++checked;
    }
    EXPECT_EQ(300, checked);
}

// Signatures with the smallest and largest values the range allows, made by hand from a known key:
// s = n - 1 and r = 1 go through the arithmetic without a range refusal; both libraries agree.
TEST_F(Sm2Verify, EdgeValuesAgreeWithLibgcrypt) {
    Key key;
    MakeKey(key);
    std::mt19937 rng(7);
    Bytes e(32);
    for (int round = 0; round < 20; ++round) {
        for (auto& c : e) c = static_cast<unsigned char>(rng());
        const Bytes one = AddSmall(Bytes(32, 0), 1);
        Bytes nMinus1 = kOrder;
        nMinus1[31] -= 1;
        for (const auto& rs : {std::make_pair(one, nMinus1), std::make_pair(nMinus1, one), std::make_pair(one, one)}) {
            EXPECT_EQ(Gcrypt(e, key.point, rs.first.data(), rs.second.data()),
                      sm2::Verify(e.data(), key.point.data() + 1, key.point.data() + 33, rs.first.data(), rs.second.data()));
        }
    }
}

// Signatures made from public values for a chosen digest: pick (r, s), take (x1, y1) = [s]G + [t]P
// with OpenSSL's arithmetic and e = (r - x1) mod n, so that (r, s) holds for e. Then the
// same values put out of range (s + n, r = 0 with t = s, r + s = n) would hold too were the range
// checks missing: only those checks refuse them.
struct Crafted {
    Bytes e, r, s;
};
Bytes BnBytes(const BIGNUM* v) {
    Bytes out(32);
    EXPECT_EQ(32, BN_bn2binpad(v, out.data(), 32));
    return out;
}
Crafted Craft(const Bytes& point, const BIGNUM* r, const BIGNUM* s) {
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BN_CTX* ctx = BN_CTX_new();
    const BIGNUM* n = EC_GROUP_get0_order(group);
    BIGNUM *t = BN_new(), *x1 = BN_new(), *e = BN_new();
    BN_mod_add(t, r, s, n, ctx);
    EC_POINT* p = EC_POINT_new(group);
    EC_POINT* q = EC_POINT_new(group);
    EXPECT_EQ(1, EC_POINT_oct2point(group, p, point.data(), point.size(), ctx));
    EXPECT_EQ(1, EC_POINT_mul(group, q, s, p, t, ctx));
    EXPECT_EQ(1, EC_POINT_get_affine_coordinates(group, q, x1, nullptr, ctx));
    BN_mod_sub(e, r, x1, n, ctx);
    Crafted c{BnBytes(e), Bytes(32), Bytes(32)};
    // r and s as given, unreduced, in 32 bytes.
    EXPECT_EQ(32, BN_bn2binpad(r, c.r.data(), 32));
    EXPECT_EQ(32, BN_bn2binpad(s, c.s.data(), 32));
    for (BIGNUM* v : {t, x1, e}) BN_free(v);
    EC_POINT_free(p);
    EC_POINT_free(q);
    BN_CTX_free(ctx);
    EC_GROUP_free(group);
    return c;
}

TEST_F(Sm2Verify, OutOfRangeValuesThatWouldOtherwiseHoldAreRefused) {
    Key key;
    MakeKey(key);
    BIGNUM* n = BN_bin2bn(kOrder.data(), 32, nullptr);
    BIGNUM *r = BN_new(), *s = BN_new(), *v = BN_new();
    auto ours = [&](const Crafted& c) {
        return sm2::Verify(c.e.data(), key.point.data() + 1, key.point.data() + 33, c.r.data(), c.s.data());
    };
    // The crafting holds: a small s and a random r verify, with us and with libgcrypt.
    BN_rand_range(r, n);
    BN_set_word(s, 12345);
    const Crafted good = Craft(key.point, r, s);
    ASSERT_TRUE(ours(good));
    ASSERT_TRUE(Gcrypt(good.e, key.point, good.r.data(), good.s.data()));
    // s + n: [s + n]G = [s]G and t unchanged mod n.
    BN_add(v, s, n);
    Crafted c = Craft(key.point, r, v);
    EXPECT_FALSE(ours(c));
    EXPECT_FALSE(Gcrypt(c.e, key.point, c.r.data(), c.s.data()));
    // r = 0: t = s, and e made so that R = 0.
    BN_zero(v);
    c = Craft(key.point, v, s);
    EXPECT_FALSE(ours(c));
    // r + s = n: t = 0, (x1, y1) = [s]G alone.
    BN_sub(v, n, s);
    c = Craft(key.point, v, s);
    EXPECT_FALSE(ours(c));
    for (BIGNUM* b : {n, r, s, v}) BN_free(b);
}

TEST_F(Sm2Verify, KeyReadersRefuseWhatIsNotAnSm2Point) {
    Key key;
    MakeKey(key);
    unsigned char x[32], y[32];
    // A compressed point, a short one, the point at infinity (a single 00).
    Bytes compressed(key.point.begin(), key.point.begin() + 33);
    compressed[0] = 0x02 | (key.point[64] & 1);
    EXPECT_EQ(sm2::KeyStatus::Malformed, sm2::ReadPoint(compressed.data(), compressed.size(), x, y));
    const unsigned char infinity[] = {0x00};
    EXPECT_EQ(sm2::KeyStatus::Malformed, sm2::ReadPoint(infinity, 1, x, y));
    // x = p (the coordinates must be below p even when p's residue would fit).
    Bytes big = key.point;
    std::memset(big.data() + 1, 0xFF, 32);
    EXPECT_EQ(sm2::KeyStatus::OffCurve, sm2::ReadPoint(big.data(), big.size(), x, y));
    // A P-256 key's SPKI: not SM2.
    EVP_PKEY* p256 = EVP_EC_gen("prime256v1");
    ASSERT_NE(nullptr, p256);
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(p256, &der);
    EXPECT_EQ(sm2::KeyStatus::NotSm2, sm2::ReadPublicKeyInfo(der, length, x, y));
    OPENSSL_free(der);
    EVP_PKEY_free(p256);
    // The SM2 SPKI with a byte after it, or cut short.
    Bytes after = key.spki;
    after.push_back(0);
    EXPECT_EQ(sm2::KeyStatus::Malformed, sm2::ReadPublicKeyInfo(after.data(), after.size(), x, y));
    EXPECT_EQ(sm2::KeyStatus::Malformed, sm2::ReadPublicKeyInfo(key.spki.data(), key.spki.size() - 1, x, y));
}

}  // namespace
