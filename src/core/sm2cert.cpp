#include "sm2cert.h"
#include "base64.h"

#include <cstring>

namespace sm2cert {
namespace {

// ---- DER --------------------------------------------------------------------------------------

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kBitString = 0x03;
constexpr unsigned char kOid = 0x06;
constexpr unsigned char kVersionTag = 0xA0;  // [0] EXPLICIT

// id-ecPublicKey (1.2.840.10045.2.1) and the SM2 curve (1.2.156.10197.1.301), encoded.
constexpr unsigned char kEcPublicKey[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr unsigned char kSm2Curve[] = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};

struct Element {
    unsigned char tag = 0;
    const unsigned char* body = nullptr;
    std::size_t length = 0;
};

// Reads the element at the front of [p, end), with a definite length in its shortest form that
// fits; advances p.
bool Next(const unsigned char*& p, const unsigned char* end, Element& e) {
    if (end - p < 2) return false;
    e.tag = *p++;
    if ((e.tag & 0x1F) == 0x1F) return false;  // high tag numbers do not occur here
    std::size_t length = *p++;
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || static_cast<std::size_t>(end - p) < count) return false;
        length = 0;
        for (std::size_t i = 0; i < count; ++i) length = (length << 8) | *p++;
        if (length < 0x80) return false;  // DER uses the short form there
    }
    if (length > static_cast<std::size_t>(end - p)) return false;
    e.body = p;
    e.length = length;
    p += length;
    return true;
}

bool Expect(const unsigned char*& p, const unsigned char* end, unsigned char tag, Element& e) {
    return Next(p, end, e) && e.tag == tag;
}

// True when every element inside e, to any depth, is whole DER and none is an end-of-contents
// marker ([UNIVERSAL 0], which DER never holds: libksba loses its parse tree on some of them).
bool IsPlainDer(const Element& e, int depth = 0) {
    if (!(e.tag & 0x20)) return true;  // primitive: its content is not read as elements
    if (depth > 32) return false;
    const unsigned char* p = e.body;
    const unsigned char* end = e.body + e.length;
    while (p < end) {
        Element inner;
        if (!Next(p, end, inner) || inner.tag == 0 || !IsPlainDer(inner, depth + 1)) return false;
    }
    return true;
}

bool Equals(const Element& e, const unsigned char* bytes, std::size_t length) {
    return e.length == length && std::memcmp(e.body, bytes, length) == 0;
}

constexpr unsigned char kSet = 0x31;
constexpr unsigned char kUtcTime = 0x17;
constexpr unsigned char kGeneralizedTime = 0x18;

// AlgorithmIdentifier ::= SEQUENCE { algorithm OID, parameters ANY OPTIONAL }
bool IsAlgorithmIdentifier(const Element& e) {
    if (e.tag != kSequence) return false;
    const unsigned char* p = e.body;
    const unsigned char* end = e.body + e.length;
    Element oid, parameters;
    if (!Expect(p, end, kOid, oid)) return false;
    return p == end || (Next(p, end, parameters) && p == end);
}

// Name ::= SEQUENCE OF SET OF SEQUENCE { type OID, value ANY }
bool IsName(const Element& e) {
    if (e.tag != kSequence) return false;
    const unsigned char* p = e.body;
    const unsigned char* end = e.body + e.length;
    while (p < end) {
        Element rdn;
        if (!Expect(p, end, kSet, rdn)) return false;
        const unsigned char* q = rdn.body;
        const unsigned char* rdnEnd = rdn.body + rdn.length;
        while (q < rdnEnd) {
            Element attribute, type, value;
            if (!Expect(q, rdnEnd, kSequence, attribute)) return false;
            const unsigned char* r = attribute.body;
            const unsigned char* attributeEnd = attribute.body + attribute.length;
            if (!Expect(r, attributeEnd, kOid, type) || !Next(r, attributeEnd, value) || r != attributeEnd)
                return false;
        }
    }
    return true;
}

// Validity ::= SEQUENCE { notBefore Time, notAfter Time }, Time ::= UTCTime | GeneralizedTime
bool IsValidity(const Element& e) {
    if (e.tag != kSequence) return false;
    const unsigned char* p = e.body;
    const unsigned char* end = e.body + e.length;
    for (int i = 0; i < 2; ++i) {
        Element time;
        if (!Next(p, end, time) || (time.tag != kUtcTime && time.tag != kGeneralizedTime)) return false;
    }
    return p == end;
}

constexpr unsigned char kBoolean = 0x01;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kIssuerUniqueId = 0x81;   // [1] IMPLICIT BIT STRING
constexpr unsigned char kSubjectUniqueId = 0x82;  // [2] IMPLICIT BIT STRING
constexpr unsigned char kExtensionsTag = 0xA3;    // [3] EXPLICIT

// [3] EXPLICIT Extensions ::= SEQUENCE OF SEQUENCE { extnID OID, critical BOOLEAN DEFAULT FALSE,
// extnValue OCTET STRING }
bool IsExtensions(const Element& e) {
    const unsigned char* p = e.body;
    const unsigned char* end = e.body + e.length;
    Element list;
    if (!Expect(p, end, kSequence, list) || p != end) return false;
    p = list.body;
    end = list.body + list.length;
    while (p < end) {
        Element extension, id, field;
        if (!Expect(p, end, kSequence, extension)) return false;
        const unsigned char* q = extension.body;
        const unsigned char* extensionEnd = extension.body + extension.length;
        if (!Expect(q, extensionEnd, kOid, id) || !Next(q, extensionEnd, field)) return false;
        if (field.tag == kBoolean && !Next(q, extensionEnd, field)) return false;
        if (field.tag != kOctetString || q != extensionEnd) return false;
    }
    return true;
}

// Finds SubjectPublicKeyInfo in a certificate, which must be exactly
//   Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signatureValue BIT STRING }
//   tbsCertificate ::= SEQUENCE { [0] version OPTIONAL, serialNumber, signature, issuer, validity,
//       subject, subjectPublicKeyInfo, [1] issuerUniqueID OPTIONAL, [2] subjectUniqueID OPTIONAL,
//       [3] extensions OPTIONAL }
// in whole DER with nothing before or between; what follows it must be whole elements (the next
// certificate of a chain, say), not looked into. `certificate` is the certificate's size.
bool FindPublicKeyInfo(const unsigned char* der, std::size_t length, Element& spki, std::size_t& certificate) {
    const unsigned char* p = der;
    const unsigned char* end = der + length;
    Element cert, tbs, e, algorithm, issuer, validity, subject, signature;
    if (!Expect(p, end, kSequence, cert) || !IsPlainDer(cert)) return false;
    certificate = static_cast<std::size_t>(p - der);
    while (p < end)
        if (!Next(p, end, e)) return false;
    p = cert.body;
    end = cert.body + cert.length;
    if (!Expect(p, end, kSequence, tbs) || !Next(p, end, algorithm) || !IsAlgorithmIdentifier(algorithm) ||
        !Expect(p, end, kBitString, signature) || p != end)
        return false;

    p = tbs.body;
    end = tbs.body + tbs.length;
    if (!Next(p, end, e)) return false;
    if (e.tag == kVersionTag) {
        const unsigned char* v = e.body;
        Element version;
        if (!Expect(v, e.body + e.length, kInteger, version) || v != e.body + e.length) return false;
        if (!Next(p, end, e)) return false;
    }
    if (e.tag != kInteger) return false;  // serialNumber
    if (!Next(p, end, algorithm) || !IsAlgorithmIdentifier(algorithm)) return false;
    if (!Next(p, end, issuer) || !IsName(issuer)) return false;
    if (!Next(p, end, validity) || !IsValidity(validity)) return false;
    if (!Next(p, end, subject) || !IsName(subject)) return false;
    if (!Expect(p, end, kSequence, spki)) return false;
    // The optional fields, each at most once and in this order.
    const unsigned char optional[] = {kIssuerUniqueId, kSubjectUniqueId, kExtensionsTag};
    std::size_t next = 0;
    while (p < end) {
        if (!Next(p, end, e)) return false;
        while (next < sizeof optional && optional[next] != e.tag) ++next;
        if (next == sizeof optional) return false;
        ++next;
        if (e.tag == kExtensionsTag && !IsExtensions(e)) return false;
    }
    return true;
}

// ---- arithmetic modulo p of sm2p256v1 ---------------------------------------------------------

constexpr int kLimbs = 8;  // 32-bit limbs, least significant first
using Number = std::uint32_t[kLimbs];

// p = FFFFFFFE FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF 00000000 FFFFFFFF FFFFFFFF
constexpr Number kP = {0xFFFFFFFF, 0xFFFFFFFF, 0x00000000, 0xFFFFFFFF,
                       0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE};
// a = p - 3; b = 28E9FA9E 9D9F5E34 4D5A9E4B CF6509A7 F39789F5 15AB8F92 DDBCBD41 4D940E93
constexpr Number kA = {0xFFFFFFFC, 0xFFFFFFFF, 0x00000000, 0xFFFFFFFF,
                       0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE};
constexpr Number kB = {0x4D940E93, 0xDDBCBD41, 0x15AB8F92, 0xF39789F5,
                       0xCF6509A7, 0x4D5A9E4B, 0x9D9F5E34, 0x28E9FA9E};

void FromBytes(Number n, const unsigned char bytes[kCoordSize]) {
    for (int i = 0; i < kLimbs; ++i) {
        const unsigned char* q = bytes + kCoordSize - 4 * (i + 1);
        n[i] = (std::uint32_t(q[0]) << 24) | (std::uint32_t(q[1]) << 16) | (std::uint32_t(q[2]) << 8) | q[3];
    }
}

// -1, 0 or 1 as a is below, equal to or above b.
int Compare(const Number a, const Number b) {
    for (int i = kLimbs - 1; i >= 0; --i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// a -= b, ignoring the final borrow (the caller knows a >= b, or a carried out of its top limb).
void Subtract(Number a, const Number b) {
    std::uint64_t borrow = 0;
    for (int i = 0; i < kLimbs; ++i) {
        const std::uint64_t d = std::uint64_t(a[i]) - b[i] - borrow;
        a[i] = static_cast<std::uint32_t>(d);
        borrow = (d >> 32) & 1;
    }
}

// r = (a + b) mod p, for a, b < p.
void AddMod(Number r, const Number a, const Number b) {
    std::uint64_t carry = 0;
    for (int i = 0; i < kLimbs; ++i) {
        const std::uint64_t s = std::uint64_t(a[i]) + b[i] + carry;
        r[i] = static_cast<std::uint32_t>(s);
        carry = s >> 32;
    }
    if (carry || Compare(r, kP) >= 0) Subtract(r, kP);
}

// r = (a * b) mod p, for a, b < p: the 512-bit product, reduced bit by bit from the top
// (r = 2r + bit, minus p when it reaches p). Slow, but it runs a handful of times per certificate.
void MulMod(Number r, const Number a, const Number b) {
    std::uint32_t product[2 * kLimbs] = {};
    for (int i = 0; i < kLimbs; ++i) {
        std::uint64_t carry = 0;
        for (int j = 0; j < kLimbs; ++j) {
            const std::uint64_t t = std::uint64_t(a[i]) * b[j] + product[i + j] + carry;
            product[i + j] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        product[i + kLimbs] = static_cast<std::uint32_t>(carry);
    }
    Number acc = {};
    for (int bit = 2 * kLimbs * 32 - 1; bit >= 0; --bit) {
        std::uint32_t top = acc[kLimbs - 1] >> 31;
        for (int i = kLimbs - 1; i > 0; --i) acc[i] = (acc[i] << 1) | (acc[i - 1] >> 31);
        acc[0] = (acc[0] << 1) | ((product[bit / 32] >> (bit % 32)) & 1);
        if (top || Compare(acc, kP) >= 0) Subtract(acc, kP);
    }
    std::memcpy(r, acc, sizeof acc);
}

}  // namespace

bool DecodeBase64(const char* text, std::size_t length, std::vector<unsigned char>& out) {
    out.clear();
    unsigned int acc = 0;
    int bits = 0;
    int quantum = 0;      // sextets in the current group of four
    bool padded = false;  // saw '=': only more '=' and blanks may follow
    const char* s = text;
    const char* end = text + length;
    while (s < end) {
        if (end - s >= 5 && std::memcmp(s, "-----", 5) == 0) {
            // An armour line. The end of the first armoured block ends the certificate: what
            // follows is the rest of a chain, whose own padding must not make the text unreadable.
            const bool ending = end - s >= 8 && std::memcmp(s, "-----END", 8) == 0;
            while (s < end && *s != '\n') ++s;
            if (ending && !out.empty()) break;
            continue;
        }
        const char c = *s++;
        if (base64::IsBlank(static_cast<unsigned char>(c))) continue;
        if (c == '=') {
            if (quantum < 2) return false;  // '=' only stands for the 3rd or 4th sextet
            padded = true;
            if (++quantum == 4) quantum = 0;
            continue;
        }
        const int v = base64::ValueOf(static_cast<unsigned char>(c));
        if (v < 0 || padded) return false;
        acc = (acc << 6) | static_cast<unsigned int>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
        quantum = (quantum + 1) % 4;
    }
    if (quantum == 1) return false;  // a lone sextet carries no whole byte
    return !(padded && quantum != 0);
}

bool IsOnCurve(const Point& key) {
    Number x, y;
    FromBytes(x, key.x);
    FromBytes(y, key.y);
    if (Compare(x, kP) >= 0 || Compare(y, kP) >= 0) return false;
    Number left, right, t;
    MulMod(left, y, y);       // y^2
    MulMod(t, x, x);
    AddMod(t, t, kA);         // x^2 + a
    MulMod(right, t, x);      // x^3 + ax
    AddMod(right, right, kB); // x^3 + ax + b
    return Compare(left, right) == 0;
}

Status KeyFromCertificate(const unsigned char* der, std::size_t length, Point& key, std::size_t* certificate) {
    Element spki;
    std::size_t size = 0;
    if (!der || length == 0 || !FindPublicKeyInfo(der, length, spki, size)) return Status::BadCertificate;
    if (certificate) *certificate = size;

    // SubjectPublicKeyInfo ::= SEQUENCE { AlgorithmIdentifier { OID, parameters }, BIT STRING }
    const unsigned char* p = spki.body;
    const unsigned char* end = spki.body + spki.length;
    Element algorithm, bits, oid, curve;
    if (!Expect(p, end, kSequence, algorithm) || !IsAlgorithmIdentifier(algorithm) ||
        !Expect(p, end, kBitString, bits) || p != end)
        return Status::BadCertificate;
    p = algorithm.body;
    end = algorithm.body + algorithm.length;
    if (!Expect(p, end, kOid, oid)) return Status::BadCertificate;
    if (!Equals(oid, kEcPublicKey, sizeof kEcPublicKey)) return Status::NotSm2Key;
    if (!Expect(p, end, kOid, curve) || !Equals(curve, kSm2Curve, sizeof kSm2Curve)) return Status::NotSm2Key;

    // No unused bits (a point is whole bytes), then 04 || x || y.
    if (bits.length != 2 + 2 * kCoordSize || bits.body[0] != 0 || bits.body[1] != 0x04)
        return Status::BadPublicKey;
    std::memcpy(key.x, bits.body + 2, kCoordSize);
    std::memcpy(key.y, bits.body + 2 + kCoordSize, kCoordSize);
    return IsOnCurve(key) ? Status::Ok : Status::BadPublicKey;
}

Status KeyFromBase64Certificate(const char* text, std::size_t length, Point& key) {
    bool blank = true;
    for (std::size_t i = 0; text && i < length && blank; ++i) blank = base64::IsBlank(static_cast<unsigned char>(text[i]));
    if (!text || blank) return Status::NoCertificate;
    std::vector<unsigned char> der;
    if (!DecodeBase64(text, length, der) || der.empty()) return Status::BadBase64;
    return KeyFromCertificate(der.data(), der.size(), key);
}

}  // namespace sm2cert
