// Binding to the crypto engine library kept beside the control: loaded on the first SM3
// request, kept for the life of the module, retried after a failed load.
#include "control/TarnwickApp.h"
#include "digest/Messages.h"
#include "framework/NarrowString.h"

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

enum Entry { kInitialize = 0, kUninitialize = 1, kSM3HashData = 17, kSM3HashFile = 18, kFreeMemory = 32 };

using InitializeFn = int(WINAPI*)();
using SM3HashDataFn = int(WINAPI*)(const unsigned char*, int, int, const char*, unsigned char**, int*);
using SM3HashFileFn = int(WINAPI*)(const char*, int, const char*, unsigned char**, int*);
using FreeMemoryFn = void(WINAPI*)(void*);
}  // namespace

struct CTarnwickApp::EngineEntries {
    FARPROC entries[kEntryCount];
};

int CTarnwickApp::LoadCryptoEngine(std::string& errorText) {
    std::string path = GetModuleDirectory() + "OVALON.x86.dll";
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        errorText = tarnwick::Format(msg::kEngineLoadFailed, path.c_str());
        return -1;
    }
    static EngineEntries table;
    for (size_t i = 0; i < kEntryCount; ++i) {
        table.entries[i] = GetProcAddress(module, kEntryNames[i]);
        if (!table.entries[i]) {
            FreeLibrary(module);
            m_hCryptoEngine = nullptr;
            m_pfnEngine = nullptr;
            errorText = msg::kEngineEntryMissing;
            return -1;
        }
    }
    int status = reinterpret_cast<InitializeFn>(table.entries[kInitialize])();
    if (status != 0) {
        errorText = msg::kEngineInitFailed;
        FreeLibrary(module);
        m_hCryptoEngine = nullptr;
        m_pfnEngine = nullptr;
        return status;
    }
    m_hCryptoEngine = module;
    m_pfnEngine = &table;
    return 0;
}

void CTarnwickApp::UnloadCryptoEngine(bool processExiting) {
    if (!m_hCryptoEngine) return;
    // When the process is ending the engine may already have been torn down: leave it be.
    if (!processExiting) {
        try {
            reinterpret_cast<InitializeFn>(m_pfnEngine->entries[kUninitialize])();
        } catch (...) {
        }
        FreeLibrary(m_hCryptoEngine);
    }
    m_hCryptoEngine = nullptr;
    m_pfnEngine = nullptr;
}

// Runs one SM3 request on the loaded engine: outputs cleared first, the engine's output (if
// any) rendered as hex into result and released; the engine's status is returned as it is.
template <typename Request>
int CTarnwickApp::RunSM3(Request request, std::string& result, std::string& errorText) {
    if (!IsCryptoEngineLoaded()) {
        errorText = msg::kEngineNotInstalled;
        return -1;
    }
    unsigned char* out = nullptr;
    int outLength = 0;
    int status = request(m_pfnEngine->entries, &out, &outLength);
    if (!out) return status;
    result.clear();
    for (int i = 0; i < outLength; ++i) result += ByteToHex(out[i]);
    reinterpret_cast<FreeMemoryFn>(m_pfnEngine->entries[kFreeMemory])(out);
    return status;
}

int CTarnwickApp::SM3FileToHex(const std::string& path, long nWithZValue, const std::string& cert,
                               std::string& result, std::string& errorText) {
    return RunSM3(
        [&](FARPROC* entries, unsigned char** out, int* outLength) {
            return reinterpret_cast<SM3HashFileFn>(entries[kSM3HashFile])(
                path.c_str(), nWithZValue ? 1 : 0, cert.empty() ? nullptr : cert.c_str(), out,
                outLength);
        },
        result, errorText);
}

int CTarnwickApp::SM3DataToHex(const unsigned char* data, DWORD count, long nWithZValue,
                               const std::string& cert, std::string& result,
                               std::string& errorText) {
    return RunSM3(
        [&](FARPROC* entries, unsigned char** out, int* outLength) {
            return reinterpret_cast<SM3HashDataFn>(entries[kSM3HashData])(
                data, static_cast<int>(count), nWithZValue ? 1 : 0,
                cert.empty() ? nullptr : cert.c_str(), out, outLength);
        },
        result, errorText);
}
