// Throughput of our SHA-256 (each compression path), our SM3 (the fast path in each form this CPU
// runs, and the portable rounds), the crypto engine's SM3 core and, in the native build, OpenSSL's
// EVP_sm3() in this process, hashing a file read in 1 MiB pieces, as `openssl dgst` does.
//
// Every engine hashes every piece as it is read, one after the other, and only its own time is
// counted: load from elsewhere on the machine then falls on all of them alike, which matters more
// for the ratios than the absolute figures. Prints one line per engine in MB/s, the best of `runs`
// passes (default 3), and the digest, so the engines can be seen to agree.
#include "sha256.h"
#include "sm3.h"
#include "sm3z_core.h"

#if defined(BENCH_WITH_OPENSSL)
#include <openssl/evp.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Engine {
    const char* name;
    std::function<void()> start;
    std::function<void(const unsigned char*, size_t)> feed;
    std::function<void(unsigned char*)> finish;
    double best = 0;  // MB/s
    unsigned char digest[32] = {};
};

using Clock = std::chrono::steady_clock;

// One pass over the file through every engine; false on a read error.
bool Pass(const char* path, std::vector<Engine>& engines) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    std::vector<unsigned char> buf(1 << 20);
    std::vector<double> seconds(engines.size(), 0.0);
    auto timed = [&](size_t i, const std::function<void()>& work) {
        const auto t0 = Clock::now();
        work();
        seconds[i] += std::chrono::duration<double>(Clock::now() - t0).count();
    };
    for (size_t i = 0; i < engines.size(); ++i) timed(i, engines[i].start);
    size_t total = 0, n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        for (size_t i = 0; i < engines.size(); ++i)
            timed(i, [&] { engines[i].feed(buf.data(), n); });
        total += n;
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    for (size_t i = 0; i < engines.size(); ++i) {
        Engine& e = engines[i];
        timed(i, [&] { e.finish(e.digest); });
        const double mbs = total / seconds[i] / 1e6;
        if (mbs > e.best) e.best = mbs;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const int runs = argc == 3 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 3;
    std::vector<Engine> engines;
    std::vector<const char*> absent;  // engines this CPU or build does not have

    std::vector<std::unique_ptr<digest::Sha256>> sha;
    for (auto engine : {digest::Sha256Engine::ShaNi, digest::Sha256Engine::Portable}) {
        const bool shani = engine == digest::Sha256Engine::ShaNi;
        const char* name = shani ? "sha256 ours, SHA-NI" : "sha256 ours, portable";
        if (shani && !digest::Sha256ShaNiAvailable()) {
            absent.push_back(name);
            continue;
        }
        sha.push_back(std::make_unique<digest::Sha256>(engine));
        digest::Sha256* ctx = sha.back().get();
        engines.push_back({name, [ctx] { ctx->Reset(); },
                           [ctx](const unsigned char* p, size_t n) { ctx->Update(p, n); },
                           [ctx](unsigned char* d) { ctx->Final(d); }});
    }

    // Our SM3: the fast path's AVX2 form where the CPU has it, its SSE2 form, the portable rounds.
    // A context keeps the form it was made with.
    struct Sm3Case {
        const char* name;
        digest::Sm3Engine engine;
        bool avx2;
    };
    const Sm3Case cases[] = {{"sm3 ours, fast AVX2", digest::Sm3Engine::Fast, true},
                             {"sm3 ours, fast SSE2", digest::Sm3Engine::Fast, false},
                             {"sm3 ours, portable", digest::Sm3Engine::Portable, false}};
    std::vector<std::unique_ptr<digest::Sm3>> sm3;
    for (const Sm3Case& c : cases) {
        digest::Sm3DisableAvx2(!c.avx2);
        if (c.engine == digest::Sm3Engine::Fast &&
            (!digest::Sm3FastAvailable() || (c.avx2 && !digest::Sm3FastUsesAvx2()))) {
            absent.push_back(c.name);
            continue;
        }
        sm3.push_back(std::make_unique<digest::Sm3>(c.engine));
        digest::Sm3* ctx = sm3.back().get();
        engines.push_back({c.name, [ctx] { ctx->Reset(); },
                           [ctx](const unsigned char* p, size_t n) { ctx->Update(p, n); },
                           [ctx](unsigned char* d) { ctx->Final(d); }});
    }
    digest::Sm3DisableAvx2(false);

    // The crypto engine's streaming core, as the companion runs it.
    if (ovalon::InitializeCrypto() != OVALON_OK) return 1;
    ovalon::Sm3Stream stream;
    engines.push_back({"sm3 engine core", [&stream] { stream.Begin(0, nullptr); },
                       [&stream](const unsigned char* p, size_t n) { stream.Update(p, n); },
                       [&stream](unsigned char* d) { stream.Finish(d); }});

#if defined(BENCH_WITH_OPENSSL)
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> evp(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_MD_CTX* md = evp.get();
    engines.push_back({"sm3 openssl EVP in-process",
                       [md] { EVP_DigestInit_ex(md, EVP_sm3(), nullptr); },
                       [md](const unsigned char* p, size_t n) { EVP_DigestUpdate(md, p, n); },
                       [md](unsigned char* d) { EVP_DigestFinal_ex(md, d, nullptr); }});
#endif

    for (int run = 0; run < runs; ++run)
        if (!Pass(path, engines)) {
            std::fprintf(stderr, "cannot read %s\n", path);
            return 1;
        }
    for (const char* name : absent) std::printf("%-28s (not on this CPU or build)\n", name);
    for (const Engine& e : engines) {
        std::printf("%-28s %8.0f MB/s  ", e.name, e.best);
        for (unsigned char c : e.digest) std::printf("%02x", c);
        std::printf("\n");
    }
    return 0;
}
