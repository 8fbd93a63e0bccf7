// Throughput of our SHA-256 (each compression path) and of the crypto engine's SM3 core, hashing
// a file streamed in 1 MiB reads, as `openssl dgst` does. Prints one line per engine in MB/s.
#include "sha256.h"
#include "sm3z_core.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Streams the file through `feed`; returns MB/s (10^6 bytes per second) or -1 on a read error.
double Measure(const char* path, const std::function<void(const unsigned char*, size_t)>& feed,
               const std::function<void()>& finish) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return -1;
    std::vector<unsigned char> buf(1 << 20);
    size_t total = 0, n;
    const auto t0 = std::chrono::steady_clock::now();
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        feed(buf.data(), n);
        total += n;
    }
    finish();
    const auto t1 = std::chrono::steady_clock::now();
    std::fclose(f);
    const double s = std::chrono::duration<double>(t1 - t0).count();
    return total / s / 1e6;
}

void Hex(const unsigned char* d, size_t n) {
    for (size_t i = 0; i < n; ++i) std::printf("%02x", d[i]);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    unsigned char d[32];

    for (auto engine : {digest::Sha256Engine::ShaNi, digest::Sha256Engine::Portable}) {
        if (engine == digest::Sha256Engine::ShaNi && !digest::Sha256ShaNiAvailable()) {
            std::printf("%-28s (no SHA extensions on this CPU)\n", "sha256 ours, SHA-NI");
            continue;
        }
        digest::Sha256 ctx(engine);
        const double mbs = Measure(path, [&](const unsigned char* p, size_t n) { ctx.Update(p, n); },
                                   [&] { ctx.Final(d); });
        std::printf("%-28s %8.0f MB/s  ", engine == digest::Sha256Engine::ShaNi ? "sha256 ours, SHA-NI"
                                                                              : "sha256 ours, portable",
                    mbs);
        Hex(d, 32);
        std::printf("\n");
    }

    if (ovalon::InitializeCrypto() != OVALON_OK) return 1;
    ovalon::Sm3Stream sm3;
    if (sm3.Begin(0, nullptr) != OVALON_OK) return 1;
    const double mbs = Measure(path, [&](const unsigned char* p, size_t n) { sm3.Update(p, n); },
                               [&] { sm3.Finish(d); });
    std::printf("%-28s %8.0f MB/s  ", "sm3 engine core", mbs);
    Hex(d, 32);
    std::printf("\n");
    return 0;
}
