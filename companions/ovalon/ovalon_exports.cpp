// The 33 entry points of OVALON.x86.dll. Argument checks, output hand-over and file reading live
// here; the digest work is in sm3z_core.cpp. Nothing throws out of an entry point.
#include <windows.h>

#include <atomic>
#include <new>

#include "Owners.h"
#include "Paths.h"
#include "ovalon.h"
#include "readahead.h"
#include "sm3z_core.h"

namespace {

[[maybe_unused]] SRWLOCK g_lock = SRWLOCK_INIT;
std::atomic<bool> g_initialized{false};  // read by every call, from any thread

bool IsInitialized() { return g_initialized.load(); }

// Outputs the caller passed are cleared before any work, so every failure leaves them empty.
template <typename T>
void Clear(T** p) {
    if (p) *p = nullptr;
}
void Clear(int* n) {
    if (n) *n = 0;
}

// Hands a 32-byte digest to the caller in a block FreeMemory releases.
int HandOver(const unsigned char digest[ovalon::kSm3Size], unsigned char** out, int* outLength) {
    void* block = HeapAlloc(GetProcessHeap(), 0, ovalon::kSm3Size);
    if (!block) return OVALON_E_OUT_OF_MEMORY;
    CopyMemory(block, digest, ovalon::kSm3Size);
    *out = static_cast<unsigned char*>(block);
    *outLength = static_cast<int>(ovalon::kSm3Size);
    return OVALON_OK;
}

// SM3 of a file of any size, in constant memory, read and hashed in turn (the core's read-ahead
// pipeline): at SM3's pace the copy out of the system's cache is a few per cent of the time, less
// than a second reading thread costs.
int HashOpenFile(HANDLE handle, int withZ, const char* base64Cert, unsigned char digest[32]) {
    tarnwick::UniqueFile file(handle);  // closed on every path, a refused certificate included
    ovalon::Sm3Stream stream;
    int rc = stream.Begin(withZ, base64Cert);
    if (rc != OVALON_OK) return rc;
    if (!file) return OVALON_E_FILE_OPEN;
    auto read = [&](unsigned char* buffer, std::size_t capacity, std::size_t& got) {
        DWORD count = 0;
        const bool ok = ReadFile(file.get(), buffer, static_cast<DWORD>(capacity), &count, nullptr) != FALSE;
        got = count;
        return ok;
    };
    auto consume = [&](const unsigned char* data, std::size_t length) { stream.Update(data, length); };
    switch (pipeline::ReadAhead(read, consume, pipeline::kInTurn)) {
    case pipeline::Result::Done: return stream.Finish(digest);
    case pipeline::Result::NoMemory: return OVALON_E_OUT_OF_MEMORY;
    case pipeline::Result::ReadFailed: break;
    }
    return OVALON_E_FILE_READ;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int HashFile(const char* path, int withZ, const char* base64Cert, unsigned char digest[32]) {
    return HashOpenFile(CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                    nullptr),
                        withZ, base64Cert, digest);
}

int HashFile(const wchar_t* path, int withZ, const char* base64Cert, unsigned char digest[32]) {
    // Paths of any length through the long-path prefix.
    const std::wstring name = tarnwick::ForFileCalls(path);
    return HashOpenFile(CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
                        withZ, base64Cert, digest);
}

// One file request: outputs cleared, arguments checked, no exception leaves the module.
template <typename Char>
int HashFileRequest(const Char* path, int withZ, const char* base64Cert, unsigned char** out, int* outLength) {
    Clear(out);
    Clear(outLength);
    if (!out || !outLength || !path) return OVALON_E_INVALID_ARG;
    if (!IsInitialized()) return OVALON_E_NOT_INITIALIZED;
    try {
        unsigned char digest[ovalon::kSm3Size];
        const int rc = HashFile(path, withZ, base64Cert, digest);
        return rc == OVALON_OK ? HandOver(digest, out, outLength) : rc;
    } catch (const std::bad_alloc&) {
        return OVALON_E_OUT_OF_MEMORY;
    } catch (...) {
        return OVALON_E_CRYPTO;
    }
}

}  // namespace

extern "C" {

int OVALON_CALL Initialize(void) {
#ifdef OVALON_TEST_INIT_FAIL
    // The engine-initfail test copy: behaves as an engine whose library cannot start.
    return OVALON_E_INIT_FAILED;
#else
    const tarnwick::ExclusiveLock held = tarnwick::LockExclusive(g_lock);
    const int rc = ovalon::InitializeCrypto();
    if (rc == OVALON_OK) g_initialized.store(true);
    return rc;
#endif
}

int OVALON_CALL Uninitialize(void) {
    // libgcrypt has nothing to tear down that matters to us; no locks, so this is safe from
    // process exit.
    g_initialized.store(false);
    return OVALON_OK;
}

void OVALON_CALL FreeMemory(void* p) {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

int OVALON_CALL SM3HashData(const unsigned char* data, int length, int withZ, const char* base64Cert,
                            unsigned char** out, int* outLength) {
    Clear(out);
    Clear(outLength);
    if (!out || !outLength || length < 0 || (!data && length > 0)) return OVALON_E_INVALID_ARG;
    if (!IsInitialized()) return OVALON_E_NOT_INITIALIZED;
    try {
        ovalon::Sm3Stream stream;
        int rc = stream.Begin(withZ, base64Cert);
        if (rc != OVALON_OK) return rc;
        if (length > 0) stream.Update(data, static_cast<size_t>(length));
        unsigned char digest[ovalon::kSm3Size];
        rc = stream.Finish(digest);
        return rc == OVALON_OK ? HandOver(digest, out, outLength) : rc;
    } catch (const std::bad_alloc&) {
        return OVALON_E_OUT_OF_MEMORY;
    } catch (...) {
        return OVALON_E_CRYPTO;
    }
}

int OVALON_CALL SM3HashFile(const char* path, int withZ, const char* base64Cert, unsigned char** out,
                            int* outLength) {
    return HashFileRequest(path, withZ, base64Cert, out, outLength);
}

int OVALON_CALL SM3HashFileW(const wchar_t* path, int withZ, const char* base64Cert, unsigned char** out,
                             int* outLength) {
    return HashFileRequest(path, withZ, base64Cert, out, outLength);
}

// ---- operations this engine does not offer -----------------------------------------------------

int OVALON_CALL SignData_PKCS1(const unsigned char*, int, const char*, unsigned char** signature,
                               int* signatureLength) {
    Clear(signature);
    Clear(signatureLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SignData_PKCS7Detached(const unsigned char*, int, const char*, unsigned char** signature,
                                       int* signatureLength) {
    Clear(signature);
    Clear(signatureLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SignData_PKCS7Attached(const unsigned char*, int, const char*, unsigned char** signedData,
                                       int* signedDataLength) {
    Clear(signedData);
    Clear(signedDataLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SignFile_PKCS7Detached(const char*, const char*, unsigned char** signature,
                                       int* signatureLength) {
    Clear(signature);
    Clear(signatureLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL VerifyDataSignature_PKCS1(const unsigned char*, int, const unsigned char*, int,
                                          const char*) {
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL VerifyDataSignature_PKCS7Detached(const unsigned char*, int, const unsigned char*, int,
                                                  char** signerCert, int* signerCertLength) {
    Clear(signerCert);
    Clear(signerCertLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL VerifyDataSignature_PKCS7Attached(const unsigned char*, int, unsigned char** content,
                                                  int* contentLength) {
    Clear(content);
    Clear(contentLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL VerifyFileSignature_PKCS7Detached(const char*, const unsigned char*, int) {
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL EncryptDataToCMSEnvelope(const unsigned char*, int, const char*, unsigned char** envelope,
                                         int* envelopeLength) {
    Clear(envelope);
    Clear(envelopeLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SignAndEncryptData(const unsigned char*, int, const char*, const char*,
                                   unsigned char** envelope, int* envelopeLength) {
    Clear(envelope);
    Clear(envelopeLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL DecryptDataFromCMSEnvelope(const unsigned char*, int, const char*, unsigned char** content,
                                           int* contentLength) {
    Clear(content);
    Clear(contentLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL DecryptAndVerifyDataSignature(const unsigned char*, int, const char*,
                                              unsigned char** content, int* contentLength) {
    Clear(content);
    Clear(contentLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL VerifyCertificate(const char*) { return OVALON_E_NOT_SUPPORTED; }

int OVALON_CALL GetCertificateInfo(const char*, int, char** info, int* infoLength) {
    Clear(info);
    Clear(infoLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL GetPublicCertFromPFX(const unsigned char*, int, const char*, char** base64Cert,
                                     int* base64CertLength) {
    Clear(base64Cert);
    Clear(base64CertLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM2EncryptData(const unsigned char*, int, const char*, unsigned char** out, int* outLength) {
    Clear(out);
    Clear(outLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM2DecryptData(const unsigned char*, int, const char*, unsigned char** out, int* outLength) {
    Clear(out);
    Clear(outLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL GenerateSM2KeyPair(unsigned char** publicKey, int* publicKeyLength,
                                   unsigned char** privateKey, int* privateKeyLength) {
    Clear(publicKey);
    Clear(publicKeyLength);
    Clear(privateKey);
    Clear(privateKeyLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM2EncryptDatabyKey(const unsigned char*, int, const unsigned char*, int,
                                    unsigned char** out, int* outLength) {
    Clear(out);
    Clear(outLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM2DecryptDatabyKey(const unsigned char*, int, const unsigned char*, int,
                                    unsigned char** out, int* outLength) {
    Clear(out);
    Clear(outLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM2DecryptDatabySM2File(const unsigned char*, int, const char*, const char*,
                                        unsigned char** out, int* outLength) {
    Clear(out);
    Clear(outLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM2SignHash(const unsigned char*, int, const char*, unsigned char** signature,
                            int* signatureLength) {
    Clear(signature);
    Clear(signatureLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM2SignHashbySM2File(const unsigned char*, int, const char*, const char*,
                                     unsigned char** signature, int* signatureLength) {
    Clear(signature);
    Clear(signatureLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM2VerifyHash(const unsigned char*, int, const unsigned char*, int, const char*) {
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM4EncryptData(const unsigned char*, int, const unsigned char*, int, unsigned char** out,
                               int* outLength) {
    Clear(out);
    Clear(outLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM4DecryptData(const unsigned char*, int, const unsigned char*, int, unsigned char** out,
                               int* outLength) {
    Clear(out);
    Clear(outLength);
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM4EncryptFile(const char*, const char*, const unsigned char*, int) {
    return OVALON_E_NOT_SUPPORTED;
}

int OVALON_CALL SM4DecryptFile(const char*, const char*, const unsigned char*, int) {
    return OVALON_E_NOT_SUPPORTED;
}

}  // extern "C"
