// SHA-256 core against OpenSSL's EVP, with each compression path in turn.
#include "sha256.h"
#include "CSHA256.h"
#include "hashclass.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <cstdio>
#include "readahead.h"

#include <cctype>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using digest::Sha256;
using digest::Sha256Engine;

namespace {

using Digest = std::vector<unsigned char>;

Digest Reference(const unsigned char* data, size_t len) {
    Digest out(32);
    unsigned int n = 0;
    EXPECT_EQ(1, EVP_Digest(data, len, out.data(), &n, EVP_sha256(), nullptr));
    EXPECT_EQ(32u, n);
    return out;
}

Digest Ours(Sha256Engine engine, const unsigned char* data, size_t len) {
    Digest out(32);
    Sha256 ctx(engine);
    EXPECT_EQ(engine, ctx.engine());
    ctx.Update(data, len);
    ctx.Final(out.data());
    return out;
}

std::string Hex(const Digest& d) {
    static const char k[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : d) { s += k[c >> 4]; s += k[c & 15]; }
    return s;
}

std::vector<unsigned char> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto& c : v) c = static_cast<unsigned char>(rng());
    return v;
}

// Every test runs once per compression path.
class Sha256Path : public ::testing::TestWithParam<Sha256Engine> {
protected:
    void SetUp() override {
        if (GetParam() == Sha256Engine::ShaNi && !digest::Sha256ShaNiAvailable())
            GTEST_SKIP() << "this CPU has no SHA extensions";
    }
    Sha256Engine engine() const { return GetParam(); }
};

// Published vectors (FIPS 180-4 examples and the usual two-block message).
TEST_P(Sha256Path, PublishedVectors) {
    struct { const char* msg; const char* hex; } v[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    };
    for (auto& t : v) {
        auto d = Ours(engine(), reinterpret_cast<const unsigned char*>(t.msg), strlen(t.msg));
        EXPECT_EQ(t.hex, Hex(d)) << "message \"" << t.msg << "\"";
    }
}

TEST_P(Sha256Path, MillionA) {
    std::vector<unsigned char> chunk(1000, 'a');
    Sha256 ctx(engine());
    for (int i = 0; i < 1000; ++i) ctx.Update(chunk.data(), chunk.size());
    EXPECT_EQ(1000000u, ctx.length());
    Digest d(32);
    ctx.Final(d.data());
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", Hex(d));
}

// Every length 0..300 covers all padding layouts, including the lengths right at the block
// boundaries (55/56, 63/64, 119/120) where the length field spills into an extra block.
TEST_P(Sha256Path, EveryLengthUpTo300) {
    auto data = RandomBytes(300, 1);
    for (size_t len = 0; len <= 300; ++len)
        ASSERT_EQ(Reference(data.data(), len), Ours(engine(), data.data(), len)) << "length " << len;
    for (size_t len : {55, 56, 63, 64, 119, 120}) {
        std::vector<unsigned char> same(len, 0x61);
        EXPECT_EQ(Reference(same.data(), len), Ours(engine(), same.data(), len)) << "length " << len;
    }
}

TEST_P(Sha256Path, EverySplitIntoTwoUpdates) {
    for (unsigned seed : {2u, 3u}) {
        const size_t n = seed == 2 ? 200 : 513;
        auto data = RandomBytes(n, seed);
        const Digest want = Reference(data.data(), n);
        for (size_t cut = 0; cut <= n; ++cut) {
            Sha256 ctx(engine());
            ctx.Update(data.data(), cut);
            ctx.Update(data.data() + cut, n - cut);
            Digest d(32);
            ctx.Final(d.data());
            ASSERT_EQ(want, d) << "size " << n << " split at " << cut;
        }
    }
}

TEST_P(Sha256Path, ByteAtATimeAndContextReuse) {
    auto data = RandomBytes(1000, 4);
    Sha256 ctx(engine());
    for (int round = 0; round < 2; ++round) {  // Final resets the context: a second message works
        for (unsigned char c : data) ctx.Update(&c, 1);
        Digest d(32);
        ctx.Final(d.data());
        EXPECT_EQ(Reference(data.data(), data.size()), d) << "round " << round;
        EXPECT_EQ(0u, ctx.length());
    }
}

TEST_P(Sha256Path, LargeUnalignedBuffer) {
    auto data = RandomBytes(1 << 20 | 1, 5);
    // Start one byte in, so the whole-block path reads from an odd address.
    EXPECT_EQ(Reference(data.data() + 1, data.size() - 1),
              Ours(engine(), data.data() + 1, data.size() - 1));
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha256Path,
                         ::testing::Values(Sha256Engine::Portable, Sha256Engine::ShaNi),
                         [](const auto& info) {
                             return info.param == Sha256Engine::ShaNi ? std::string("ShaNi")
                                                                      : std::string("Portable");
                         });

#if defined(__i386__) || defined(__x86_64__)
// The ShaNi skips and the expected engine rest on our own CPU check: it must say what the
// compiler's says (the path needs SSSE3 and SSE4.1 beside the SHA extensions).
TEST(Sha256Select, ShaNiDetectedExactlyWhereTheCompilerSeesIt) {
    const bool sha = __builtin_cpu_supports("sha") && __builtin_cpu_supports("ssse3") &&
                     __builtin_cpu_supports("sse4.1");
    EXPECT_EQ(sha, digest::Sha256ShaNiAvailable());
}
#endif

TEST(Sha256Select, DisablingShaNiMakesAutoPortable) {
    digest::Sha256DisableShaNi(true);
    EXPECT_EQ(Sha256Engine::Portable, Sha256().engine());
    digest::Sha256DisableShaNi(false);
    EXPECT_EQ(digest::Sha256ShaNiAvailable() ? Sha256Engine::ShaNi : Sha256Engine::Portable,
              Sha256().engine());
}

TEST(CSHA256Text, UpperCaseDigitsInDigestOrderAndNul) {
    auto data = RandomBytes(777, 6);
    for (bool portable : {false, true}) {
        digest::Sha256DisableShaNi(portable);
        char text[80];
        memset(text, '#', sizeof text);
        CSHA256().HashToHex(text, data.data(), static_cast<unsigned int>(data.size()));
        EXPECT_EQ('\0', text[64]);
        EXPECT_EQ('#', text[65]) << "wrote past the terminator";
        std::string s(text);
        ASSERT_EQ(64u, s.size());
        for (char c : s) EXPECT_TRUE(isdigit((unsigned char)c) || (c >= 'A' && c <= 'F')) << s;
        std::string want = Hex(Reference(data.data(), data.size()));
        for (auto& c : want) c = static_cast<char>(toupper((unsigned char)c));
        EXPECT_EQ(want, s);
    }
    digest::Sha256DisableShaNi(false);
}

TEST(CSHA256Text, EmptyInputDoesNotReadData) {
    char text[65];
    CSHA256().HashToHex(text, nullptr, 0);  // ASan would flag a read through null
    EXPECT_STREQ("E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855", text);
}

// ---- the table of digest classes -----------------------------------------------------------------

// One context through a class record, in memory the caller owns (as the module's exports use it).
class ByRecord {
public:
    explicit ByRecord(const digest::HashClass* c) : c_(c), memory_(c->contextSize + alignof(std::max_align_t)) {
        context_ = memory_.data();
        c_->init(context_);
    }
    ~ByRecord() { c_->destroy(context_); }
    void update(const std::vector<unsigned char>& data, size_t from, size_t to) {
        c_->update(context_, data.data() + from, to - from);
    }
    Digest final() {
        Digest out(c_->digestSize);
        c_->final(context_, out.data());
        return out;
    }
    std::vector<unsigned char> save() const {
        std::vector<unsigned char> state(c_->stateSize);
        c_->save(context_, state.data());
        return state;
    }
    bool load(const std::vector<unsigned char>& state) { return c_->load(context_, state.data(), state.size()); }

private:
    const digest::HashClass* c_;
    std::vector<unsigned char> memory_;
    void* context_;
};

// Every row: found by its name, its digest OpenSSL's of the same name (where OpenSSL has one), and a
// message saved at any point and continued in a new context gives the same digest.
TEST(HashTable, EveryKindDigestsAndResumesLikeOneRun) {
    ASSERT_GE(digest::HashCount(), 2);
    EXPECT_STREQ("sha256", digest::HashAt(0)->name);
    EXPECT_STREQ("sm3", digest::HashAt(1)->name);
    EXPECT_EQ(nullptr, digest::HashAt(digest::HashCount()));
    EXPECT_EQ(-1, digest::HashKind("SHA256"));
    const auto data = RandomBytes(1000, 29);
    for (int kind = 0; kind < digest::HashCount(); ++kind) {
        const digest::HashClass* c = digest::HashAt(kind);
        SCOPED_TRACE(c->name);
        EXPECT_EQ(kind, digest::HashKind(c->name));
        ByRecord whole(c);
        whole.update(data, 0, data.size());
        const Digest expected = whole.final();
        if (const EVP_MD* md = EVP_get_digestbyname(c->name)) {
            Digest reference(EVP_MD_size(md));
            unsigned n = 0;
            ASSERT_EQ(1, EVP_Digest(data.data(), data.size(), reference.data(), &n, md, nullptr));
            EXPECT_EQ(Hex(reference), Hex(expected));
        }
        for (size_t split : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{200}, data.size()}) {
            ByRecord first(c);
            first.update(data, 0, split);
            const auto state = first.save();
            ByRecord second(c);
            ASSERT_TRUE(second.load(state)) << split;
            second.update(data, split, data.size());
            EXPECT_EQ(Hex(expected), Hex(second.final())) << split;
        }
    }
}

// What save could not have written is refused, and the context is left as new.
TEST(HashTable, LoadRefusesStatesSaveCannotWrite) {
    const auto data = RandomBytes(100, 30);
    for (int kind = 0; kind < 2; ++kind) {
        const digest::HashClass* c = digest::HashAt(kind);
        SCOPED_TRACE(c->name);
        ByRecord fresh(c);
        const Digest empty = fresh.final();
        ByRecord some(c);
        some.update(data, 0, 10);  // nothing compressed yet, ten bytes kept
        const auto state = some.save();
        ByRecord other(digest::HashAt(1 - kind));
        other.update(data, 0, 10);
        std::vector<std::vector<unsigned char>> bad;
        bad.push_back(other.save());                                          // the other digest's
        bad.emplace_back(state.begin(), state.end() - 1);                     // cut short
        bad.push_back(state); bad.back().push_back(0);                        // one byte more
        bad.push_back(state); bad.back()[4] ^= 1;                             // chaining value moved before any block
        bad.push_back(state); bad.back()[36 + 8 + 10] = 1;                    // a byte past the kept ones
        bad.push_back(state); bad.back()[36 + 7] = 0x20;                      // a length of 2^61 bytes
        for (size_t i = 0; i < bad.size(); ++i) {
            ByRecord target(c);
            target.update(data, 0, 50);
            EXPECT_FALSE(target.load(bad[i])) << i;
            EXPECT_EQ(Hex(empty), Hex(target.final())) << i;
        }
    }
}

}  // namespace

// A sparse file past 4 GiB read as SHA-256 on the SHA extensions reads it (on a second thread,
// with two cores), against openssl; and a read error part-way ends the pipeline with the error.
TEST(ReadAhead, HashesASparseFilePast4GiBLikeOpenssl) {
    char path[] = "/tmp/readahead-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, (4LL << 30) + 3));
    ASSERT_EQ(1, pwrite(fd, "x", 1, 4LL << 30));
    digest::Sha256 hash;
    auto read = [&](unsigned char* buffer, std::size_t capacity, std::size_t& got) {
        const ssize_t n = ::read(fd, buffer, capacity);
        got = n > 0 ? static_cast<std::size_t>(n) : 0;
        return n >= 0;
    };
    auto consume = [&](const unsigned char* data, std::size_t size) { hash.Update(data, size); };
    ASSERT_EQ(pipeline::Result::Done, pipeline::ReadAhead(read, consume,
                                                          pipeline::PlanFor((4ULL << 30) + 3, true)));
    close(fd);
    unsigned char ours[32];
    hash.Final(ours);
    std::string command = std::string("openssl dgst -sha256 -r ") + path;
    FILE* pipe = popen(command.c_str(), "r");
    char theirs[65] = {};
    ASSERT_EQ(1u, fread(theirs, 64, 1, pipe));
    pclose(pipe);
    unlink(path);
    char text[65];
    for (int i = 0; i < 32; ++i) snprintf(text + 2 * i, 3, "%02x", ours[i]);
    EXPECT_STREQ(theirs, text);

    int calls = 0;
    auto failing = [&](unsigned char*, std::size_t, std::size_t& got) {
        got = 1;
        return ++calls < 5;
    };
    std::size_t consumed = 0;
    EXPECT_EQ(pipeline::Result::ReadFailed,
              pipeline::ReadAhead(failing, [&](const unsigned char*, std::size_t n) { consumed += n; },
                                  pipeline::Plan{16, 2}));
    EXPECT_EQ(4u, consumed) << "blocks read before the error are consumed, in order";
}
