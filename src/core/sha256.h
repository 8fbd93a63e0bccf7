// SHA-256 (FIPS 180-4), streaming.
//
// Pure C++: no Windows headers, no I/O. Builds for the control (mingw, i686) and natively for the
// Linux tests and benchmarks. Two compression functions sit behind the context: a portable one
// that reads like the standard's description, and one using the x86 SHA extensions, chosen at run
// time by CPUID. The portable one is the fallback and the reference the tests compare against.
// WebAssembly builds carry the portable rounds unrolled (sha256.cpp says why); that is what Portable
// means there.
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

class Sha256 : public BlockHash<Sha256Engine> {
public:
    // Starts a fresh message. Asking for ShaNi on a CPU without it falls back to Portable;
    // engine() tells which one is in use.
    explicit Sha256(Sha256Engine engine = Sha256Engine::Auto);

    // One-shot convenience.
    static void Hash(const void* data, std::size_t length, unsigned char digest[kDigestSize],
                     Sha256Engine engine = Sha256Engine::Auto);
};

}  // namespace digest

#endif
