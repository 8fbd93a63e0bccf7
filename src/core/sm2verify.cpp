#include "sm2verify.h"

#include <cstdint>
#include <cstring>

namespace sm2 {
namespace {

using u64 = std::uint64_t;

// lo of a * b + c + d, its high 64 bits into hi (the sum never passes 128 bits). With a 128-bit
// type where the compiler has one (x86-64, wasm32 through compiler-rt), else from 32-bit halves
// (i686; SM2_PORTABLE_MULTIPLY picks this path anywhere, for the tests).
inline u64 MulAdd(u64 a, u64 b, u64 c, u64 d, u64& hi) {
#if defined(__SIZEOF_INT128__) && !defined(SM2_PORTABLE_MULTIPLY)
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b + c + d;
    hi = static_cast<u64>(p >> 64);
    return static_cast<u64>(p);
#else
    const u64 al = a & 0xFFFFFFFFu, ah = a >> 32, bl = b & 0xFFFFFFFFu, bh = b >> 32;
    const u64 ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
    const u64 mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    u64 lo = (ll & 0xFFFFFFFFu) | (mid << 32);
    u64 h = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
    lo += c;
    h += lo < c;
    lo += d;
    h += lo < d;
    hi = h;
    return lo;
#endif
}

// 256-bit numbers as four 64-bit limbs, least significant first.
struct Num {
    u64 v[4];
};

// p = FFFFFFFE FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF 00000000 FFFFFFFF FFFFFFFF
constexpr Num kP = {{0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFF00000000ull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFEFFFFFFFFull}};
// n = FFFFFFFE FFFFFFFF FFFFFFFF FFFFFFFF 7203DF6B 21C6052B 53BBF409 39D54123
constexpr Num kN = {{0x53BBF40939D54123ull, 0x7203DF6B21C6052Bull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFEFFFFFFFFull}};
constexpr Num kB = {{0xDDBCBD414D940E93ull, 0xF39789F515AB8F92ull, 0x4D5A9E4BCF6509A7ull, 0x28E9FA9E9D9F5E34ull}};
constexpr Num kGx = {{0x715A4589334C74C7ull, 0x8FE30BBFF2660BE1ull, 0x5F9904466A39C994ull, 0x32C4AE2C1F198119ull}};
constexpr Num kGy = {{0x02DF32E52139F0A0ull, 0xD0A9877CC62A4740ull, 0x59BDCEE36B692153ull, 0xBC3736A2F4F6779Cull}};

Num FromBytes(const unsigned char b[32]) {
    Num n;
    for (int i = 0; i < 4; ++i) {
        u64 w = 0;
        for (int j = 0; j < 8; ++j) w = (w << 8) | b[32 - 8 * (i + 1) + j];
        n.v[i] = w;
    }
    return n;
}

int Compare(const Num& a, const Num& b) {
    for (int i = 3; i >= 0; --i)
        if (a.v[i] != b.v[i]) return a.v[i] < b.v[i] ? -1 : 1;
    return 0;
}

bool IsZero(const Num& a) { return (a.v[0] | a.v[1] | a.v[2] | a.v[3]) == 0; }

// r = a + b, returning the carry out.
u64 Add(Num& r, const Num& a, const Num& b) {
    u64 carry = 0;
    for (int i = 0; i < 4; ++i) {
        const u64 s = a.v[i] + carry;
        const u64 c1 = s < carry;
        r.v[i] = s + b.v[i];
        carry = c1 + (r.v[i] < s);
    }
    return carry;
}

// r = a - b, returning the borrow out.
u64 Sub(Num& r, const Num& a, const Num& b) {
    u64 borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u64 d = a.v[i] - b.v[i];
        const u64 b1 = a.v[i] < b.v[i];
        r.v[i] = d - borrow;
        borrow = b1 | (d < borrow);
    }
    return borrow;
}

// ---- the field modulo p, in Montgomery form (x * 2^256 mod p) ----------------------------------

void AddP(Num& r, const Num& a, const Num& b) {
    const u64 carry = Add(r, a, b);
    if (carry || Compare(r, kP) >= 0) Sub(r, r, kP);
}

void SubP(Num& r, const Num& a, const Num& b) {
    if (Sub(r, a, b)) Add(r, r, kP);
}

// r = a * b / 2^256 mod p. The low limb of p is all ones, so -1/p mod 2^64 is 1 and each round's
// multiplier m is the low limb itself; and p = 2^256 - 2^224 - 2^96 + 2^64 - 1, so adding m * p
// and dropping the low limb (zero then) is adding m + m * 2^192 and taking m * 2^32 + m * 2^160
// away: no multiplication.
void MulP(Num& r, const Num& a, const Num& b) {
    u64 t[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) t[j] = MulAdd(a.v[j], b.v[i], t[j], carry, carry);
        t[4] += carry;
        t[5] = t[4] < carry;
        const u64 m = t[0];
        // s = t[1..5] + [m, 0, 0, m, 0] - [m << 32, m >> 32, m << 32, m >> 32, 0]
        u64 s[5] = {t[1], t[2], t[3], t[4], t[5]};
        const u64 plus[5] = {m, 0, 0, m, 0};
        const u64 minus[5] = {m << 32, m >> 32, m << 32, m >> 32, 0};
        u64 c = 0;
        for (int j = 0; j < 5; ++j) {
            const u64 x = s[j] + c;
            const u64 c1 = x < c;
            s[j] = x + plus[j];
            c = c1 + (s[j] < x);
        }
        c = 0;
        for (int j = 0; j < 5; ++j) {
            const u64 d = s[j] - minus[j];
            const u64 b1 = s[j] < minus[j];
            s[j] = d - c;
            c = b1 | (d < c);
        }
        for (int j = 0; j < 5; ++j) t[j] = s[j];
        t[5] = 0;
    }
    Num out = {{t[0], t[1], t[2], t[3]}};
    if (t[4] || Compare(out, kP) >= 0) Sub(out, out, kP);
    r = out;
}

void SqrP(Num& r, const Num& a) { MulP(r, a, a); }

// 2^512 mod p, for entering Montgomery form; 2^256 mod p is one in that form.
struct Constants {
    Num r2, one, b, gx, gy;
    Constants() {
        Num x = {{1, 0, 0, 0}};
        for (int i = 0; i < 512; ++i) AddP(x, x, x);
        r2 = x;
        const Num plainOne = {{1, 0, 0, 0}};
        MulP(one, plainOne, r2);
        MulP(b, kB, r2);
        MulP(gx, kGx, r2);
        MulP(gy, kGy, r2);
    }
};

const Constants& K() {
    static const Constants k;
    return k;
}

Num ToMont(const Num& a) {
    Num r;
    MulP(r, a, K().r2);
    return r;
}

Num FromMont(const Num& a) {
    const Num one = {{1, 0, 0, 0}};
    Num r;
    MulP(r, a, one);
    return r;
}

// a^(p-2): the inverse of a non-zero a, in Montgomery form.
Num InvP(const Num& a) {
    Num e;
    const Num two = {{2, 0, 0, 0}};
    Sub(e, kP, two);
    Num r = K().one;
    for (int i = 255; i >= 0; --i) {
        SqrP(r, r);
        if ((e.v[i / 64] >> (i % 64)) & 1) MulP(r, r, a);
    }
    return r;
}

bool OnCurveMont(const Num& x, const Num& y) {
    Num left, right, t;
    SqrP(left, y);
    SqrP(t, x);
    MulP(right, t, x);          // x^3
    AddP(t, x, x);
    AddP(t, t, x);              // 3x
    SubP(right, right, t);      // x^3 - 3x  (a = -3)
    AddP(right, right, K().b);  // + b
    return Compare(left, right) == 0;
}

// ---- points in Jacobian coordinates (X / Z^2, Y / Z^3); Z = 0 is the point at infinity -------

struct Jacobian {
    Num x, y, z;
};
struct Affine {
    Num x, y;
};

bool IsInfinity(const Jacobian& p) { return IsZero(p.z); }

// a = -3: delta = Z^2, gamma = Y^2, beta = X*gamma, alpha = 3(X - delta)(X + delta).
void Double(Jacobian& r, const Jacobian& p) {
    if (IsInfinity(p) || IsZero(p.y)) {
        r = Jacobian{p.x, p.y, Num{{0, 0, 0, 0}}};
        return;
    }
    Num delta, gamma, beta, alpha, t1, t2, x3, y3, z3;
    SqrP(delta, p.z);
    SqrP(gamma, p.y);
    MulP(beta, p.x, gamma);
    SubP(t1, p.x, delta);
    AddP(t2, p.x, delta);
    MulP(alpha, t1, t2);
    AddP(t1, alpha, alpha);
    AddP(alpha, t1, alpha);
    SqrP(x3, alpha);
    AddP(t1, beta, beta);
    AddP(t1, t1, t1);  // 4 beta
    AddP(t2, t1, t1);  // 8 beta
    SubP(x3, x3, t2);
    AddP(z3, p.y, p.z);
    SqrP(z3, z3);
    SubP(z3, z3, gamma);
    SubP(z3, z3, delta);
    SubP(t1, t1, x3);
    MulP(y3, alpha, t1);
    SqrP(t2, gamma);
    AddP(t2, t2, t2);
    AddP(t2, t2, t2);
    AddP(t2, t2, t2);  // 8 gamma^2
    SubP(y3, y3, t2);
    r.x = x3;
    r.y = y3;
    r.z = z3;
}

// r = p + q, q given as (x2, y2, z2) where z2 may be one (affine q) when qAffine is set.
void AddGeneral(Jacobian& r, const Jacobian& p, const Num& x2, const Num& y2, const Num* z2) {
    if (IsInfinity(p)) {
        r = Jacobian{x2, y2, z2 ? *z2 : K().one};
        return;
    }
    if (z2 && IsZero(*z2)) {
        r = p;
        return;
    }
    Num z1z1, u1, u2, s1, s2, h, rr, t;
    SqrP(z1z1, p.z);
    if (z2) {
        Num z2z2;
        SqrP(z2z2, *z2);
        MulP(u1, p.x, z2z2);
        MulP(t, z2z2, *z2);
        MulP(s1, p.y, t);
    } else {
        u1 = p.x;
        s1 = p.y;
    }
    MulP(u2, x2, z1z1);
    MulP(t, z1z1, p.z);
    MulP(s2, y2, t);
    SubP(h, u2, u1);
    SubP(rr, s2, s1);
    if (IsZero(h)) {
        if (IsZero(rr)) {
            Double(r, p);
        } else {
            r.z = Num{{0, 0, 0, 0}};
        }
        return;
    }
    Num hh, hhh, v, x3, y3, z3;
    SqrP(hh, h);
    MulP(hhh, hh, h);
    MulP(v, u1, hh);
    SqrP(x3, rr);
    SubP(x3, x3, hhh);
    SubP(x3, x3, v);
    SubP(x3, x3, v);
    SubP(t, v, x3);
    MulP(y3, rr, t);
    MulP(t, s1, hhh);
    SubP(y3, y3, t);
    MulP(z3, p.z, h);
    if (z2) MulP(z3, z3, *z2);
    r.x = x3;
    r.y = y3;
    r.z = z3;
}

void Negate(Num& r, const Num& y) {
    if (IsZero(y)) r = y;
    else Sub(r, kP, y);
}

// ---- scalars --------------------------------------------------------------------------------

// The width-w NAF of k (< 2^256): digits odd in (-2^(w-1), 2^(w-1)) or 0; returns the count.
int Wnaf(const Num& k, int w, signed char digits[258]) {
    u64 v[5] = {k.v[0], k.v[1], k.v[2], k.v[3], 0};
    const int full = 1 << w;
    const int half = full >> 1;
    int count = 0;
    auto nonZero = [&] { return (v[0] | v[1] | v[2] | v[3] | v[4]) != 0; };
    while (nonZero()) {
        int d = 0;
        if (v[0] & 1) {
            d = static_cast<int>(v[0] & static_cast<u64>(full - 1));
            if (d >= half) d -= full;
            // v -= d
            if (d > 0) {
                u64 borrow = static_cast<u64>(d);
                for (int i = 0; i < 5 && borrow; ++i) {
                    const u64 before = v[i];
                    v[i] -= borrow;
                    borrow = before < borrow ? 1 : 0;
                }
            } else {
                u64 carry = static_cast<u64>(-d);
                for (int i = 0; i < 5 && carry; ++i) {
                    v[i] += carry;
                    carry = v[i] < carry ? 1 : 0;
                }
            }
        }
        digits[count++] = static_cast<signed char>(d);
        for (int i = 0; i < 4; ++i) v[i] = (v[i] >> 1) | (v[i + 1] << 63);
        v[4] >>= 1;
    }
    return count;
}

constexpr int kWindowG = 7;  // G's odd multiples 1G..63G, made once, affine
constexpr int kWindowP = 5;  // the key's odd multiples 1P..15P, per verification, Jacobian

struct GTable {
    Affine odd[1 << (kWindowG - 2)];
    GTable() {
        const Constants& k = K();
        Jacobian g{k.gx, k.gy, k.one};
        Jacobian g2;
        Double(g2, g);
        Jacobian cur = g;
        for (int i = 0; i < (1 << (kWindowG - 2)); ++i) {
            const Num zi = InvP(cur.z);
            Num zi2, zi3;
            SqrP(zi2, zi);
            MulP(zi3, zi2, zi);
            MulP(odd[i].x, cur.x, zi2);
            MulP(odd[i].y, cur.y, zi3);
            AddGeneral(cur, cur, g2.x, g2.y, &g2.z);
        }
    }
};

const GTable& G() {
    static const GTable table;
    return table;
}

// [a]G + [b]P, interleaving both NAFs over one run of doublings.
Jacobian DoubleMultiply(const Num& a, const Num& b, const Affine& p) {
    const Constants& k = K();
    Jacobian pOdd[1 << (kWindowP - 2)];
    pOdd[0] = Jacobian{p.x, p.y, k.one};
    Jacobian p2;
    Double(p2, pOdd[0]);
    for (int i = 1; i < (1 << (kWindowP - 2)); ++i) AddGeneral(pOdd[i], pOdd[i - 1], p2.x, p2.y, &p2.z);
    const GTable& g = G();

    signed char na[258] = {}, nb[258] = {};
    const int la = Wnaf(a, kWindowG, na);
    const int lb = Wnaf(b, kWindowP, nb);
    const int length = la > lb ? la : lb;
    Jacobian acc{k.one, k.one, Num{{0, 0, 0, 0}}};
    for (int i = length - 1; i >= 0; --i) {
        Double(acc, acc);
        if (na[i]) {
            const Affine& q = g.odd[(na[i] > 0 ? na[i] : -na[i]) >> 1];
            Num y = q.y;
            if (na[i] < 0) Negate(y, q.y);
            AddGeneral(acc, acc, q.x, y, nullptr);
        }
        if (nb[i]) {
            const Jacobian& q = pOdd[(nb[i] > 0 ? nb[i] : -nb[i]) >> 1];
            Num y = q.y;
            if (nb[i] < 0) Negate(y, q.y);
            AddGeneral(acc, acc, q.x, y, &q.z);
        }
    }
    return acc;
}

// ---- DER ------------------------------------------------------------------------------------

// One element at p with a definite length in its shortest form; advances p.
bool Element(const unsigned char*& p, const unsigned char* end, unsigned char tag, const unsigned char*& body,
             std::size_t& length) {
    if (end - p < 2 || *p != tag) return false;
    ++p;
    std::size_t n = *p++;
    if (n & 0x80) {
        const std::size_t count = n & 0x7F;
        if (count == 0 || count > 2 || static_cast<std::size_t>(end - p) < count || *p == 0) return false;
        n = 0;
        for (std::size_t i = 0; i < count; ++i) n = (n << 8) | *p++;
        if (n < 0x80) return false;
    }
    if (n > static_cast<std::size_t>(end - p)) return false;
    body = p;
    length = n;
    p += n;
    return true;
}

// A minimal non-negative INTEGER of at most 32 significant bytes into out.
bool Integer(const unsigned char*& p, const unsigned char* end, unsigned char out[32]) {
    const unsigned char* body;
    std::size_t length;
    if (!Element(p, end, 0x02, body, length) || length == 0) return false;
    if (body[0] & 0x80) return false;                                    // negative
    if (length > 1 && body[0] == 0 && !(body[1] & 0x80)) return false;  // not minimal
    if (body[0] == 0) {
        ++body;
        --length;
    }
    if (length > 32) return false;
    std::memset(out, 0, 32);
    std::memcpy(out + 32 - length, body, length);
    return true;
}

constexpr unsigned char kEcPublicKey[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr unsigned char kSm2Curve[] = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};

}  // namespace

bool IsOnCurve(const unsigned char x[32], const unsigned char y[32]) {
    const Num nx = FromBytes(x), ny = FromBytes(y);
    if (Compare(nx, kP) >= 0 || Compare(ny, kP) >= 0) return false;
    return OnCurveMont(ToMont(nx), ToMont(ny));
}

KeyStatus ReadPoint(const unsigned char* bytes, std::size_t length, unsigned char x[32], unsigned char y[32]) {
    if (!bytes || length != 65 || bytes[0] != 0x04) return KeyStatus::Malformed;
    if (!IsOnCurve(bytes + 1, bytes + 33)) return KeyStatus::OffCurve;
    std::memcpy(x, bytes + 1, 32);
    std::memcpy(y, bytes + 33, 32);
    return KeyStatus::Ok;
}

KeyStatus ReadPublicKeyInfo(const unsigned char* der, std::size_t length, unsigned char x[32], unsigned char y[32]) {
    if (!der) return KeyStatus::Malformed;
    const unsigned char* p = der;
    const unsigned char* end = der + length;
    const unsigned char *spki, *algorithm, *bits, *oid;
    std::size_t spkiLength, algorithmLength, bitsLength, oidLength;
    if (!Element(p, end, 0x30, spki, spkiLength) || p != end) return KeyStatus::Malformed;
    p = spki;
    end = spki + spkiLength;
    if (!Element(p, end, 0x30, algorithm, algorithmLength) || !Element(p, end, 0x03, bits, bitsLength) || p != end)
        return KeyStatus::Malformed;
    p = algorithm;
    end = algorithm + algorithmLength;
    if (!Element(p, end, 0x06, oid, oidLength)) return KeyStatus::Malformed;
    if (oidLength != sizeof kEcPublicKey || std::memcmp(oid, kEcPublicKey, oidLength) != 0) return KeyStatus::NotSm2;
    if (p == end) return KeyStatus::NotSm2;
    if (!Element(p, end, 0x06, oid, oidLength)) return KeyStatus::NotSm2;  // explicit parameters, say
    if (p != end) return KeyStatus::Malformed;
    if (oidLength != sizeof kSm2Curve || std::memcmp(oid, kSm2Curve, oidLength) != 0) return KeyStatus::NotSm2;
    if (bitsLength < 1 || bits[0] != 0) return KeyStatus::Malformed;
    return ReadPoint(bits + 1, bitsLength - 1, x, y);
}

bool ReadDerSignature(const unsigned char* der, std::size_t length, unsigned char r[32], unsigned char s[32]) {
    if (!der) return false;
    const unsigned char* p = der;
    const unsigned char* end = der + length;
    const unsigned char* body;
    std::size_t bodyLength;
    if (!Element(p, end, 0x30, body, bodyLength) || p != end) return false;
    p = body;
    end = body + bodyLength;
    return Integer(p, end, r) && Integer(p, end, s) && p == end;
}

bool Verify(const unsigned char e[32], const unsigned char x[32], const unsigned char y[32],
            const unsigned char r[32], const unsigned char s[32]) {
    if (!IsOnCurve(x, y)) return false;
    const Num nr = FromBytes(r), ns = FromBytes(s);
    if (IsZero(nr) || Compare(nr, kN) >= 0 || IsZero(ns) || Compare(ns, kN) >= 0) return false;
    Num t;
    if (Add(t, nr, ns) || Compare(t, kN) >= 0) Sub(t, t, kN);
    if (IsZero(t)) return false;

    const Affine key{ToMont(FromBytes(x)), ToMont(FromBytes(y))};
    const Jacobian sum = DoubleMultiply(ns, t, key);
    if (IsInfinity(sum)) return false;
    Num zi = InvP(sum.z), zi2, x1;
    SqrP(zi2, zi);
    MulP(x1, sum.x, zi2);
    x1 = FromMont(x1);

    // R = (e + x1) mod n, with e any 256-bit value and x1 < p: at most three subtractions.
    const Num ne = FromBytes(e);
    Num big;
    u64 top = Add(big, ne, x1);
    while (top || Compare(big, kN) >= 0) top -= Sub(big, big, kN);
    return Compare(big, nr) == 0;
}

}  // namespace sm2
