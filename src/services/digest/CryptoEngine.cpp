#include "digest/CryptoEngine.h"
#include "framework/Companion.h"
#include "CodePage.h"
#include "hex.h"
#include "ovalon/ovalon.h"

namespace tarnwick::engine {
namespace {

const char* const kEntryNames[] = {
    "Initialize", "Uninitialize", "SignData_PKCS1", "SignData_PKCS7Detached",
    "SignData_PKCS7Attached", "SignFile_PKCS7Detached", "VerifyDataSignature_PKCS1",
    "VerifyDataSignature_PKCS7Detached", "VerifyDataSignature_PKCS7Attached",
    "VerifyFileSignature_PKCS7Detached", "EncryptDataToCMSEnvelope", "SignAndEncryptData",
    "DecryptDataFromCMSEnvelope", "DecryptAndVerifyDataSignature", "VerifyCertificate",
    "GetCertificateInfo", "GetPublicCertFromPFX", "SM3HashData", "SM3HashFile", "SM2EncryptData",
    "SM2DecryptData", "GenerateSM2KeyPair", "SM2EncryptDatabyKey", "SM2DecryptDatabyKey",
    "SM2DecryptDatabySM2File", "SM2SignHash", "SM2SignHashbySM2File", "SM2VerifyHash",
    "SM4EncryptData", "SM4DecryptData", "SM4EncryptFile", "SM4DecryptFile", "FreeMemory",
};
constexpr size_t kEntryCount = sizeof(kEntryNames) / sizeof(kEntryNames[0]);
static_assert(kEntryCount == 33, "the engine has 33 entry points");

// The engine of the control's own architecture, beside it.
#ifdef _WIN64
constexpr wchar_t kEngineFile[] = L"OVALON.x64.dll";
#else
constexpr wchar_t kEngineFile[] = L"OVALON.x86.dll";
#endif

enum Entry { kInitialize = 0, kUninitialize = 1, kSM3HashData = 17, kSM3HashFile = 18, kFreeMemory = 32 };

Companion g_engine(kEngineFile);
FARPROC g_entries[kEntryCount];

// Run under the companion's lock after a fresh load: every entry point present, Initialize
// succeeded.
struct Preparation {
    LoadStatus status = LoadStatus::Ok;
    int code = 0;
};

bool Prepare(HMODULE module, void* context) {
    Preparation& preparation = *static_cast<Preparation*>(context);
    for (size_t i = 0; i < kEntryCount; ++i) {
        g_entries[i] = GetProcAddress(module, kEntryNames[i]);
        if (!g_entries[i]) {
            preparation.status = LoadStatus::EntryMissing;
            preparation.code = -1;
            return false;
        }
    }
    int status = reinterpret_cast<OvalonInitializeFn>(g_entries[kInitialize])();
    if (status != 0) {
        preparation.status = LoadStatus::InitFailed;
        preparation.code = status;
        return false;
    }
    return true;
}

template <typename Fn>
Fn EntryAs(Entry entry) {
    return reinterpret_cast<Fn>(g_entries[entry]);
}

// Runs one SM3 request on the loaded engine; its output (if any) is rendered as hex and released.
template <typename Request>
Sm3Outcome Run(Request request) {
    Sm3Outcome outcome;
    if (!g_engine.IsLoaded()) {
        outcome.loaded = false;
        return outcome;
    }
    unsigned char* out = nullptr;
    int outLength = 0;
    outcome.status = request(&out, &outLength);
    if (!out) return outcome;
    outcome.hex = hex::Upper(out, outLength > 0 ? static_cast<size_t>(outLength) : 0);
    EntryAs<OvalonFreeMemoryFn>(kFreeMemory)(out);
    return outcome;
}

}  // namespace

bool IsLoaded() { return g_engine.IsLoaded(); }

LoadOutcome EnsureLoaded() {
    LoadOutcome outcome;
    Preparation preparation;
    DWORD code = 0;
    if (g_engine.Load(code, Prepare, &preparation)) return outcome;
    outcome.path = g_engine.Path();
    if (preparation.status != LoadStatus::Ok) {
        outcome.status = preparation.status;
        outcome.code = preparation.code;
    } else {
        outcome.status = LoadStatus::LoadFailed;
        outcome.code = -1;
    }
    return outcome;
}

// A path in UTF-16 goes to the engine's wide entry; an engine without one gets the path in the
// ANSI code page.
using SM3HashFileWFn = int(OVALON_CALL*)(const wchar_t*, int, const char*, unsigned char**, int*);

Sm3Outcome HashFile(const std::wstring& path, long withZ, const std::string& cert) {
    auto wide = reinterpret_cast<SM3HashFileWFn>(g_engine.Find("SM3HashFileW"));
    const char* certificate = cert.empty() ? nullptr : cert.c_str();
    if (wide)
        return Run([&](unsigned char** out, int* outLength) {
            return wide(path.c_str(), withZ ? 1 : 0, certificate, out, outLength);
        });
    const std::string narrow = FromWide(CP_ACP, path.c_str());
    return Run([&](unsigned char** out, int* outLength) {
        return EntryAs<OvalonSM3HashFileFn>(kSM3HashFile)(narrow.c_str(), withZ ? 1 : 0, certificate, out, outLength);
    });
}

Sm3Outcome HashData(const unsigned char* data, DWORD count, long withZ, const std::string& cert) {
    return Run([&](unsigned char** out, int* outLength) {
        return EntryAs<OvalonSM3HashDataFn>(kSM3HashData)(
            data, static_cast<int>(count), withZ ? 1 : 0, cert.empty() ? nullptr : cert.c_str(),
            out, outLength);
    });
}

}  // namespace tarnwick::engine
