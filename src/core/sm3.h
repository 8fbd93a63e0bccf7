// SM3 (GB/T 32905-2016), streaming.
//
// Pure C++: no Windows headers, no I/O. Builds for the control and its companions (mingw, i686)
// and natively for the Linux tests and benchmarks. Two compression functions sit behind the
// context: a portable one that reads like the standard's description, and a fast x86 one (the
// message schedule of several blocks expanded at once with SIMD, rounds unrolled in scalar code),
// chosen at run time by CPUID. The portable one is the fallback and the reference the tests
// compare against. Builds for other targets (ARM) carry the portable one only; WebAssembly builds
// carry the same rounds unrolled (no loop counter, constants folded), which is what Portable means
// there.
#ifndef TARNWICK_CORE_SM3_H
#define TARNWICK_CORE_SM3_H

#include <cstddef>
#include <cstdint>

#include "blockframing.h"

namespace digest {

// Which compression function a context uses.
enum class Sm3Engine {
    Auto,      // Fast when the CPU allows it (and it is not disabled), else Portable
    Portable,  // the plain C++ rounds
    Fast,      // the x86 SIMD schedule and unrolled rounds; only valid when Sm3FastAvailable()
};

// True when this build carries the fast path and the CPU has SSE2 (CPUID leaf 1 EDX bit 26;
// always so on x86_64).
bool Sm3FastAvailable();

// True when Fast contexts initialised now use the AVX2 form of the fast path (the schedules of
// eight blocks at once, rounds with BMI2's rorx): the CPU has AVX2, BMI1 and BMI2 (CPUID leaf 7 EBX
// bits 5, 3, 8), the OS saves the YMM registers (XCR0 bits 1 and 2), and it is not disabled below.
// Otherwise Fast uses the SSE2 form (four blocks' schedules at once).
bool Sm3FastUsesAvx2();

// Makes Fast contexts initialised from now on use the SSE2 form even where AVX2 is there (tests
// and benchmarks use this; it is process-wide). Passing false restores CPU detection.
void Sm3DisableAvx2(bool disable);

// Makes Sm3Engine::Auto pick the portable path for contexts initialised from now on (tests and
// benchmarks use this; it is process-wide). Passing false restores CPU detection.
void Sm3DisableFast(bool disable);

// The engine Sm3Engine::Auto resolves to right now.
Sm3Engine Sm3AutoEngine();

class Sm3 : public BlockHash<Sm3Engine> {
public:
    // Starts a fresh message. Asking for Fast where it is not available falls back to Portable;
    // engine() tells which one is in use.
    explicit Sm3(Sm3Engine engine = Sm3Engine::Auto);

    // One-shot convenience.
    static void Hash(const void* data, std::size_t length, unsigned char digest[kDigestSize],
                     Sm3Engine engine = Sm3Engine::Auto);
};

}  // namespace digest

#endif
