// libFuzzer target: the engine's certificate path, text or DER in, SM2 key and Z value out.
// The first input byte picks the entry: even feeds the rest as base64 text (what the control
// passes), odd feeds it as DER straight to the certificate parser. The portable reader of the
// core (sm2cert.h) is run beside the engine and must give the same result and point. The engine
// must write nothing to standard error (the host's): whatever it writes fails the input. Run with
// leak detection, so that memory lost on one input fails it too.
#include "sm3z_core.h"
#include "sm2cert.h"

#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Standard error as the engine sees it: a scratch file while an input runs; the sanitizers
// report to the real one.
struct StderrCatcher {
    int real = dup(2);
    FILE* scratch = std::tmpfile();
    StderrCatcher() {
        if (real < 0 || !scratch) abort();
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(real)));
    }
    void Begin() { dup2(fileno(scratch), 2); }
    void End() {
        dup2(real, 2);
        const long written = lseek(fileno(scratch), 0, SEEK_CUR);
        if (written == 0) return;
        char text[512] = {};
        if (pread(fileno(scratch), text, sizeof text - 1, 0) < 0) text[0] = 0;
        std::fprintf(stderr, "the engine wrote %ld bytes to standard error:\n%s\n", written, text);
        abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = ovalon::InitializeCrypto() == OVALON_OK;
    if (!ready) abort();
    static StderrCatcher catcher;
    if (size == 0) return 0;
    catcher.Begin();

    ovalon::Sm2Point key;
    sm2cert::Point coreKey;
    sm2cert::Status core;
    int rc;
    if ((data[0] & 1) == 0) {
        // The engine reads NUL-terminated text: the portable reader gets the same characters.
        const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        rc = ovalon::Sm2KeyFromBase64Certificate(text.c_str(), key);
        core = sm2cert::KeyFromBase64Certificate(text.c_str(), std::strlen(text.c_str()), coreKey);
        // The streaming entry takes the same path and must agree.
        ovalon::Sm3Stream s;
        const int streamRc = s.Begin(1, text.c_str());
        catcher.End();
        if (streamRc != rc) abort();
    } else {
        rc = ovalon::Sm2KeyFromCertificate(data + 1, size - 1, key);
        core = sm2cert::KeyFromCertificate(data + 1, size - 1, coreKey);
        catcher.End();
    }
    const int coreRc = core == sm2cert::Status::Ok               ? OVALON_OK
                       : core == sm2cert::Status::NoCertificate  ? OVALON_E_NO_CERTIFICATE
                       : core == sm2cert::Status::BadBase64      ? OVALON_E_BAD_BASE64
                       : core == sm2cert::Status::BadCertificate ? OVALON_E_BAD_CERTIFICATE
                       : core == sm2cert::Status::NotSm2Key      ? OVALON_E_NOT_SM2_KEY
                                                                 : OVALON_E_BAD_PUBLIC_KEY;
    // libksba reads only what the portable reader accepted, and must read the same key there.
    if (coreRc != rc) abort();
    if (rc == OVALON_OK && (std::memcmp(key.x, coreKey.x, 32) != 0 || std::memcmp(key.y, coreKey.y, 32) != 0))
        abort();
    if (rc == OVALON_OK) {
        unsigned char z[ovalon::kSm3Size];
        if (ovalon::Sm2ComputeZ(key, reinterpret_cast<const unsigned char*>(ovalon::kDefaultSm2Id), 16, z) !=
            OVALON_OK)
            abort();
    }
    return 0;
}
