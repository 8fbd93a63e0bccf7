// SM3 against the fastest SM3 the CPU has without SM3 instructions: libgcrypt's (its AVX/BMI2
// assembly in x86-64 builds, its C rounds in i686 ones), in this one process, with each figure
// also in cycles per round from a clock measured here.
//
// Every engine hashes the same 1 MiB buffer once per pass, one after another (so load from
// elsewhere on the machine falls on all of them alike); the fastest call of each over all passes
// counts. The clock is measured the same way, interleaved with the engines: the fastest run of a
// chain of dependent register adds, one cycle each. An SM3 round is one message byte (64 rounds per
// 64-byte block), so cycles per round = clock / bytes per second.
//
// Engines: our core's fast path (the form this CPU runs); on Windows, when given the crypto
// engine's DLL, its SM3HashData as a caller sees it; libgcrypt; in the native build, OpenSSL's
// EVP_sm3(). Prints one line per engine (MB/s, cycles per round, ratio to libgcrypt, digest) and
// the measured clock.
#include "sm3.h"

#include <gcrypt.h>

#if defined(BENCH_WITH_OPENSSL)
#include <openssl/evp.h>
#endif
#if defined(_WIN32)
#include <windows.h>

#include "ovalon.h"
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Engine {
    std::string name;
    std::function<bool(const unsigned char*, size_t, unsigned char*)> hash;
    double best = 1e30;  // seconds, fastest call
    unsigned char digest[32] = {};
};

constexpr long kAddChain = 4 << 20;  // dependent adds per clock measurement

// Seconds for kAddChain dependent adds (one cycle each on every x86 core of the last decade).
double AddChainSeconds() {
    const auto t0 = Clock::now();
    unsigned int acc = 0, one = 1;
    long n = kAddChain / 8;
    __asm__ volatile(
        "1:\n\t"
        "addl %[one], %[acc]\n\taddl %[one], %[acc]\n\taddl %[one], %[acc]\n\taddl %[one], %[acc]\n\t"
        "addl %[one], %[acc]\n\taddl %[one], %[acc]\n\taddl %[one], %[acc]\n\taddl %[one], %[acc]\n\t"
        "dec %[n]\n\tjnz 1b"
        : [acc] "+r"(acc), [n] "+r"(n)
        : [one] "r"(one)
        : "cc");
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    int passes = 200;
    const char* dll = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--passes") == 0 && i + 1 < argc) passes = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--engine-dll") == 0 && i + 1 < argc) dll = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--passes N] [--engine-dll OVALON.dll]\n", argv[0]);
            return 2;
        }
    }
    const size_t size = 1 << 20;
    std::vector<unsigned char> data(size);
    std::mt19937 rng(7);
    for (auto& c : data) c = static_cast<unsigned char>(rng());

    std::vector<Engine> engines;
    engines.push_back({digest::Sm3FastUsesAvx2() ? "ours (core, fast AVX2)" : "ours (core, fast SSE2)",
                       [](const unsigned char* p, size_t n, unsigned char* d) {
                           digest::Sm3::Hash(p, n, d, digest::Sm3Engine::Fast);
                           return true;
                       }});
    if (!digest::Sm3FastAvailable()) engines.back().name = "ours (core, portable)";

#if defined(_WIN32)
    OvalonSM3HashDataFn hashData = nullptr;
    OvalonFreeMemoryFn freeMemory = nullptr;
    if (dll) {
        HMODULE module = LoadLibraryA(dll);
        auto init = module ? reinterpret_cast<OvalonInitializeFn>(GetProcAddress(module, "Initialize")) : nullptr;
        hashData = module ? reinterpret_cast<OvalonSM3HashDataFn>(GetProcAddress(module, "SM3HashData")) : nullptr;
        freeMemory = module ? reinterpret_cast<OvalonFreeMemoryFn>(GetProcAddress(module, "FreeMemory")) : nullptr;
        if (!init || !hashData || !freeMemory || init() != OVALON_OK) {
            std::fprintf(stderr, "cannot load and start %s\n", dll);
            return 1;
        }
        engines.push_back({"ours (engine SM3HashData)",
                           [=](const unsigned char* p, size_t n, unsigned char* d) {
                               unsigned char* out = nullptr;
                               int outLength = 0;
                               if (hashData(p, static_cast<int>(n), 0, nullptr, &out, &outLength) !=
                                       OVALON_OK || outLength != 32)
                                   return false;
                               std::memcpy(d, out, 32);
                               freeMemory(out);
                               return true;
                           }});
    }
#else
    (void)dll;
#endif

    if (!gcry_check_version(nullptr)) return 1;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    const size_t reference = engines.size();
    engines.push_back({std::string("libgcrypt ") + gcry_check_version(nullptr),
                       [](const unsigned char* p, size_t n, unsigned char* d) {
                           gcry_md_hash_buffer(GCRY_MD_SM3, d, p, n);
                           return true;
                       }});

#if defined(BENCH_WITH_OPENSSL)
    engines.push_back({"openssl EVP_sm3 in-process",
                       [](const unsigned char* p, size_t n, unsigned char* d) {
                           unsigned int len = 0;
                           return EVP_Digest(p, n, d, &len, EVP_sm3(), nullptr) == 1;
                       }});
#endif

    double clockBest = 1e30;
    for (int pass = 0; pass < passes; ++pass) {
        for (Engine& e : engines) {
            const auto t0 = Clock::now();
            if (!e.hash(data.data(), size, e.digest)) {
                std::fprintf(stderr, "%s failed\n", e.name.c_str());
                return 1;
            }
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            if (s < e.best) e.best = s;
        }
        const double s = AddChainSeconds();
        if (s < clockBest) clockBest = s;
    }

    const double hz = kAddChain / clockBest;
    const double refMbs = size / engines[reference].best / 1e6;
    std::printf("clock %.2f GHz (measured), 1 MiB calls, fastest of %d each, interleaved\n",
                hz / 1e9, passes);
    for (const Engine& e : engines) {
        const double bps = size / e.best;
        std::printf("  %-30s %6.0f MB/s  %5.2f cycles/round  %5.3fx libgcrypt  ", e.name.c_str(),
                    bps / 1e6, hz / bps, bps / 1e6 / refMbs);
        for (unsigned char c : e.digest) std::printf("%02x", c);
        std::printf("\n");
    }
    std::printf("clock-hz %.0f\n", hz);
    return 0;
}
