// The SHA-256 engine as built into the control (32-bit, mingw): published vectors on both
// compression paths, the two paths agreeing with each other, and CSHA256's text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CSHA256.h"
#include "sha256.h"

using digest::Sha256;
using digest::Sha256Engine;

namespace {

std::string Digest(Sha256Engine engine, const void* data, size_t len) {
    unsigned char d[32];
    Sha256::Hash(data, len, d, engine);
    char text[65];
    CSHA256::ToHex(text, d);
    return text;
}

class Sha256Paths : public ::testing::TestWithParam<Sha256Engine> {
protected:
    void SetUp() override {
        if (GetParam() == Sha256Engine::ShaNi && !digest::Sha256ShaNiAvailable())
            GTEST_SKIP() << "this CPU has no SHA extensions";
    }
};

TEST_P(Sha256Paths, PublishedVectors) {
    EXPECT_EQ("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
              Digest(GetParam(), "abc", 3));
    EXPECT_EQ("E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855",
              Digest(GetParam(), "", 0));
    const char* two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ("248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1",
              Digest(GetParam(), two, strlen(two)));

    Sha256 ctx(GetParam());
    ASSERT_EQ(GetParam(), ctx.engine());
    const std::string chunk(999, 'a');  // not a multiple of the block size
    size_t fed = 0;
    while (fed < 1000000) {
        const size_t n = std::min(chunk.size(), size_t(1000000) - fed);
        ctx.Update(chunk.data(), n);
        fed += n;
    }
    unsigned char d[32];
    ctx.Final(d);
    char text[65];
    CSHA256::ToHex(text, d);
    EXPECT_STREQ("CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0", text);
}

INSTANTIATE_TEST_SUITE_P(Engines, Sha256Paths,
                         ::testing::Values(Sha256Engine::Portable, Sha256Engine::ShaNi),
                         [](const auto& info) {
                             return std::string(info.param == Sha256Engine::ShaNi ? "ShaNi" : "Portable");
                         });

// The skips here rest on our own CPU check: it must say what the compiler's says.
TEST(Sha256Agreement, ShaNiDetectedExactlyWhereTheCompilerSeesIt) {
    __builtin_cpu_init();
    const bool sha = __builtin_cpu_supports("sha") && __builtin_cpu_supports("ssse3") &&
                     __builtin_cpu_supports("sse4.1");
    EXPECT_EQ(sha, digest::Sha256ShaNiAvailable());
}

// In the 32-bit build the SHA-NI path runs on a stack Windows only aligns to 4 bytes; the two
// paths must agree for every length and alignment.
TEST(Sha256Agreement, ShaNiMatchesPortableAtEveryLengthAndOffset) {
    if (!digest::Sha256ShaNiAvailable()) GTEST_SKIP() << "this CPU has no SHA extensions";
    std::mt19937 rng(42);
    std::vector<unsigned char> data(600);
    for (auto& c : data) c = static_cast<unsigned char>(rng());
    for (size_t offset = 0; offset < 4; ++offset)
        for (size_t len = 0; len + offset <= data.size(); len += 7)
            ASSERT_EQ(Digest(Sha256Engine::Portable, data.data() + offset, len),
                      Digest(Sha256Engine::ShaNi, data.data() + offset, len))
                << "offset " << offset << " length " << len;
}

TEST(CSHA256, HashToHexOnBothPathsAndTerminates) {
    const unsigned char abc[] = {'a', 'b', 'c'};
    for (bool portable : {true, false}) {
        digest::Sha256DisableShaNi(portable);
        char text[70];
        memset(text, '#', sizeof text);
        CSHA256().HashToHex(text, abc, 3);
        EXPECT_STREQ("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", text);
        EXPECT_EQ('#', text[65]);
    }
    digest::Sha256DisableShaNi(false);
    char text[65];
    CSHA256().HashToHex(text, nullptr, 0);
    EXPECT_STREQ("E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855", text);
}

}  // namespace
