// SHA-256 (FIPS 180-4), streaming.
//
// Pure C++: no Windows headers, no I/O. Builds for the control (mingw, i686) and natively for the
// Linux tests and benchmarks. Two compression functions sit behind the context: a portable one
// that reads like the standard's description, and one using the x86 SHA extensions, chosen at run
// time by CPUID. The portable one is the fallback and the reference the tests compare against.
#ifndef TARNWICK_DIGEST_SHA256_CORE_H
#define TARNWICK_DIGEST_SHA256_CORE_H

#include <cstddef>
#include <cstdint>

#include "blockframing.h"

namespace digest {

// Which compression function a context uses.
enum class Sha256Engine {
    Auto,      // SHA extensions when the CPU has them (and they are not disabled), else portable
    Portable,  // the plain C++ rounds
    ShaNi,     // the SHA extensions; only valid when Sha256ShaNiAvailable()
};

// True when this CPU has the SHA extensions plus SSSE3 and SSE4.1 (CPUID leaf 7 EBX bit 29,
// leaf 1 ECX bits 9 and 19), and this build carries the SHA-NI path.
bool Sha256ShaNiAvailable();

// Makes Engine::Auto pick the portable path for contexts initialised from now on (tests and
// benchmarks use this; it is process-wide). Passing false restores CPU detection.
void Sha256DisableShaNi(bool disable);

// The engine Engine::Auto resolves to right now.
Sha256Engine Sha256AutoEngine();

class Sha256 {
public:
    static constexpr std::size_t kDigestSize = 32;
    static constexpr std::size_t kBlockSize = 64;

    // Starts a fresh message. Asking for ShaNi on a CPU without it falls back to Portable;
    // engine() tells which one is in use.
    explicit Sha256(Sha256Engine engine = Sha256Engine::Auto);

    void Reset();
    void Update(const void* data, std::size_t length);
    // Writes the 32-byte digest (H0..H7, each big-endian) and resets the context for a new message.
    void Final(unsigned char digest[kDigestSize]);

    Sha256Engine engine() const { return engine_; }
    // Bytes fed since the last Reset/Final.
    std::uint64_t length() const { return framing_.total(); }

    // One-shot convenience.
    static void Hash(const void* data, std::size_t length, unsigned char digest[kDigestSize],
                     Sha256Engine engine = Sha256Engine::Auto);

    // Compresses `blocks` consecutive 64-byte blocks into state.
    using CompressFn = void (*)(std::uint32_t state[8], const unsigned char* blocks,
                                std::size_t blocks_count);

private:
    std::uint32_t h_[8];
    BlockFraming framing_;  // the pending partial block and the length
    Sha256Engine engine_;
    CompressFn compress_;
};

}  // namespace digest

#endif
