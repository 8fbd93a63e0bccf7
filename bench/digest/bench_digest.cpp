// Throughput of our SHA-256 (each compression path), our SM3 (the fast path in each form this CPU
// runs, and the portable rounds) and of the crypto engine's SM3 core, hashing a file streamed in
// 1 MiB reads, as `openssl dgst` does. Prints one line per engine in MB/s, the best of `runs`
// passes (default 3), and the digest, so the engines can be seen to agree.
#include "sha256.h"
#include "sm3.h"
#include "sm3z_core.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

int g_runs = 3;

// Streams the file through `feed` g_runs times; returns the best MB/s (10^6 bytes per second) or
// -1 on a read error. `start` begins each pass, `finish` ends it.
double Measure(const char* path, const std::function<void()>& start,
               const std::function<void(const unsigned char*, size_t)>& feed,
               const std::function<void()>& finish) {
    std::vector<unsigned char> buf(1 << 20);
    double best = -1;
    for (int run = 0; run < g_runs; ++run) {
        FILE* f = std::fopen(path, "rb");
        if (!f) return -1;
        size_t total = 0, n;
        const auto t0 = std::chrono::steady_clock::now();
        start();
        while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
            feed(buf.data(), n);
            total += n;
        }
        finish();
        const auto t1 = std::chrono::steady_clock::now();
        std::fclose(f);
        const double mbs = total / std::chrono::duration<double>(t1 - t0).count() / 1e6;
        if (mbs > best) best = mbs;
    }
    return best;
}

void Report(const char* name, double mbs, const unsigned char* d) {
    std::printf("%-28s %8.0f MB/s  ", name, mbs);
    for (int i = 0; i < 32; ++i) std::printf("%02x", d[i]);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    if (argc == 3) g_runs = std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 1;
    unsigned char d[32];

    for (auto engine : {digest::Sha256Engine::ShaNi, digest::Sha256Engine::Portable}) {
        const bool shani = engine == digest::Sha256Engine::ShaNi;
        if (shani && !digest::Sha256ShaNiAvailable()) {
            std::printf("%-28s (no SHA extensions on this CPU)\n", "sha256 ours, SHA-NI");
            continue;
        }
        digest::Sha256 ctx(engine);
        const double mbs = Measure(path, [&] { ctx.Reset(); },
                                   [&](const unsigned char* p, size_t n) { ctx.Update(p, n); },
                                   [&] { ctx.Final(d); });
        Report(shani ? "sha256 ours, SHA-NI" : "sha256 ours, portable", mbs, d);
    }

    // Our SM3: the fast path's AVX2 form where the CPU has it, its SSE2 form, the portable rounds.
    struct Sm3Case {
        const char* name;
        digest::Sm3Engine engine;
        bool avx2;
    };
    const Sm3Case cases[] = {{"sm3 ours, fast AVX2", digest::Sm3Engine::Fast, true},
                             {"sm3 ours, fast SSE2", digest::Sm3Engine::Fast, false},
                             {"sm3 ours, portable", digest::Sm3Engine::Portable, false}};
    for (const Sm3Case& c : cases) {
        digest::Sm3DisableAvx2(!c.avx2);
        if (c.engine == digest::Sm3Engine::Fast &&
            (!digest::Sm3FastAvailable() || (c.avx2 && !digest::Sm3FastUsesAvx2()))) {
            std::printf("%-28s (not on this CPU or build)\n", c.name);
            continue;
        }
        digest::Sm3 ctx(c.engine);
        const double mbs = Measure(path, [&] { ctx.Reset(); },
                                   [&](const unsigned char* p, size_t n) { ctx.Update(p, n); },
                                   [&] { ctx.Final(d); });
        Report(c.name, mbs, d);
    }
    digest::Sm3DisableAvx2(false);

    // The crypto engine's streaming core, as the companion runs it.
    if (ovalon::InitializeCrypto() != OVALON_OK) return 1;
    ovalon::Sm3Stream sm3;
    bool begun = true;
    const double mbs = Measure(path, [&] { begun = sm3.Begin(0, nullptr) == OVALON_OK; },
                               [&](const unsigned char* p, size_t n) { sm3.Update(p, n); },
                               [&] { sm3.Finish(d); });
    if (!begun) return 1;
    Report("sm3 engine core", mbs, d);
    return 0;
}
