// The crypto engine companion as the control sees it: loaded with LoadLibraryA from the test's own
// directory, bound with GetProcAddress by plain name, called through __stdcall pointers.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ovalon.h"
#include "unit_support.h"

namespace {

std::string ExeDirectory() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

#define ENTRY_NAME(name, bytes, type, parameters) #name,
const char* const kExports[] = {OVALON_ENTRY_POINTS(ENTRY_NAME)};
#undef ENTRY_NAME

// Test inputs: an SM2 certificate and one on prime256v1, both made by the openssl command.
const char kSm2Cert[] =
    "MIIBbTCCAROgAwIBAgIUeGLegKHGG6V/9CPYkSpSSDWHrsQwCgYIKoEcz1UBg3Uw\r\n"
    "DDEKMAgGA1UEAwwBdDAeFw0yNjEyMDcwODEwNTVaFw0yNjEyMDgwODEwNTVaMAwx\r\n"
    "CjAIBgNVBAMMAXQwWTATBgcqhkjOPQIBBggqgRzPVQGCLQNCAAQUNdqHwtlyNqNz\r\n"
    "f3aLsqEIci4kAk1NpGRXW1WH5wZjdcHFMdhAabbyqBnkqxEE8W1XxfewKe4DmjyC\r\n"
    "HaUK5e3go1MwUTAdBgNVHQ4EFgQU5fPv8rtteju++xGS82QB0oHNZOcwHwYDVR0j\r\n"
    "BBgwFoAU5fPv8rtteju++xGS82QB0oHNZOcwDwYDVR0TAQH/BAUwAwEB/zAKBggq\r\n"
    "gRzPVQGDdQNIADBFAiBwX5VbooeuoDjRC/65k6vWRIWEU/o2HmpNCAkxQlOuUwIh\r\n"
    "AOUj55651lLnwBq6U9G5PEIW6ri3PVEKZfBQmQAUHrGP\r\n";
const char kP256Cert[] =
    "MIIBbTCCAROgAwIBAgIUYpdke/JoiA2AMHAn0KvajxG+tJQwCgYIKoZIzj0EAwIw"
    "DDEKMAgGA1UEAwwBdDAeFw0yNjEyMDcwODEwNTVaFw0yNjEyMDgwODEwNTVaMAwx"
    "CjAIBgNVBAMMAXQwWTATBgcqhkjOPQIBBggqhkjOPQMBBwNCAARfuCE+xEanyC24"
    "lDVx7VFoADLSZ9+6XYLjT9fkNf1OyITLaA5AjsslNugf0XrDQD4t7Ch+Nr8w81Ru"
    "kqh+f1uRo1MwUTAdBgNVHQ4EFgQUrkljnjMm7Ok6mLTDf3qWp2yWQ5gwHwYDVR0j"
    "BBgwFoAUrkljnjMm7Ok6mLTDf3qWp2yWQ5gwDwYDVR0TAQH/BAUwAwEB/zAKBggq"
    "hkjOPQQDAgNIADBFAiBH4mUGqodUxGLfU9updh67G47B0h8RpDGPkCynvLjEuwIh"
    "APjLZHgtp+WqZIZLEGjKMLDUtz0yoe9GBA7rJS7teYYe";
const char kRsaCert[] =  // a 512-bit RSA key
    "MIIBbzCCARmgAwIBAgIUTr4tozZYdw9/GIN+xmtCvffjMvYwDQYJKoZIhvcNAQEL"
    "BQAwDDEKMAgGA1UEAwwBdDAeFw0yNjEyMDgwNDMzMjZaFw0yNjEyMDkwNDMzMjZa"
    "MAwxCjAIBgNVBAMMAXQwXDANBgkqhkiG9w0BAQEFAANLADBIAkEA1rGL7ud1fWpt"
    "gD69P2dAPLRvaS7/33mBV7aZLVWPlW3STUEmIh2uC/57yInsJ0yivZ81YX6D1LjH"
    "gJXEkbR78wIDAQABo1MwUTAdBgNVHQ4EFgQUXoq3QNfkmCU0ZeUU/WIO3Zbx5Cow"
    "HwYDVR0jBBgwFoAUXoq3QNfkmCU0ZeUU/WIO3Zbx5CowDwYDVR0TAQH/BAUwAwEB"
    "/zANBgkqhkiG9w0BAQsFAANBAKu4rluwludAIlq/yKIvtJH4V+9u/ayyytsQxXRO"
    "zFUZZEPNX2pIiauSyhvFF/pX1BulZSrUDb68GrSRjIgvYvs=";

using Bytes = std::vector<unsigned char>;
unsigned char* const kPoisonPtr = reinterpret_cast<unsigned char*>(0xDEADBEEF);
const int kPoisonLen = 0x5A5A5A5A;

std::string Hex(const unsigned char* p, int n) {
    static const char k[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < n; ++i) { s += k[p[i] >> 4]; s += k[p[i] & 15]; }
    return s;
}

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto& c : v) c = static_cast<unsigned char>(rng());
    return v;
}

// A file in the temporary directory, removed at the end of the scope.
struct TempFile {
    std::string path;
    explicit TempFile(const Bytes& data, const std::string& name = "") {
        char dir[MAX_PATH], file[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        if (name.empty()) {
            GetTempFileNameA(dir, "sm3", 0, file);
            path = file;
        } else {
            path = std::string(dir) + name;
        }
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << path;
        DWORD written = 0;
        if (!data.empty()) WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
        CloseHandle(h);
        EXPECT_EQ(data.size(), written);
    }
    ~TempFile() { DeleteFileA(path.c_str()); }
};

// One loaded copy of the engine, with its SM3 entries bound.
class Engine {
public:
    explicit Engine(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
        if (!module_) return;
        init = reinterpret_cast<OvalonInitializeFn>(GetProcAddress(module_, "Initialize"));
        uninit = reinterpret_cast<OvalonUninitializeFn>(GetProcAddress(module_, "Uninitialize"));
        freeMemory = reinterpret_cast<OvalonFreeMemoryFn>(GetProcAddress(module_, "FreeMemory"));
        hashData = reinterpret_cast<OvalonSM3HashDataFn>(GetProcAddress(module_, "SM3HashData"));
        hashFile = reinterpret_cast<OvalonSM3HashFileFn>(GetProcAddress(module_, "SM3HashFile"));
    }
    ~Engine() {
        if (module_) FreeLibrary(module_);
    }
    HMODULE module() const { return module_; }
    FARPROC Proc(const char* name) const { return GetProcAddress(module_, name); }

    // Runs SM3HashData; returns the status and leaves the hex digest in *hex on success.
    int Data(const Bytes& data, int withZ, const char* cert, std::string* hex = nullptr) {
        unsigned char* out = kPoisonPtr;
        int len = kPoisonLen;
        const int rc = hashData(data.empty() ? nullptr : data.data(), static_cast<int>(data.size()),
                                withZ, cert, &out, &len);
        return Collect(rc, out, len, hex);
    }
    int File(const std::string& path, int withZ, const char* cert, std::string* hex = nullptr) {
        unsigned char* out = kPoisonPtr;
        int len = kPoisonLen;
        const int rc = hashFile(path.c_str(), withZ, cert, &out, &len);
        return Collect(rc, out, len, hex);
    }

    OvalonInitializeFn init = nullptr;
    OvalonUninitializeFn uninit = nullptr;
    OvalonFreeMemoryFn freeMemory = nullptr;
    OvalonSM3HashDataFn hashData = nullptr;
    OvalonSM3HashFileFn hashFile = nullptr;

private:
    int Collect(int rc, unsigned char* out, int len, std::string* hex) {
        if (rc == OVALON_OK) {
            EXPECT_EQ(32, len);
            EXPECT_NE(nullptr, out);
            EXPECT_NE(kPoisonPtr, out);
            if (out && out != kPoisonPtr) {
                if (hex) *hex = Hex(out, 32);
                freeMemory(out);
            }
        } else {
            EXPECT_EQ(nullptr, out) << "status " << rc << " left the output pointer set";
            EXPECT_EQ(0, len) << "status " << rc << " left the output length set";
        }
        return rc;
    }
    HMODULE module_;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_.reset(new Engine(ExeDirectory() + testsupport::kEngineFile));
        ASSERT_NE(nullptr, engine_->module()) << testsupport::kEngineFile << " not beside the test, error "
                                              << GetLastError();
        ASSERT_NE(nullptr, engine_->hashData);
        ASSERT_NE(nullptr, engine_->hashFile);
    }
    void TearDown() override {
        if (engine_ && engine_->uninit) engine_->uninit();
        engine_.reset();
    }
    Engine& e() { return *engine_; }
    std::unique_ptr<Engine> engine_;
};

TEST_F(EngineTest, ExportsAllEntriesByPlainNameOnly) {
    for (const char* name : kExports) EXPECT_NE(nullptr, e().Proc(name)) << name;
    // The .def maps the names: the decorated symbols themselves are not exported.
    EXPECT_EQ(nullptr, e().Proc("SM3HashData@24"));
    EXPECT_EQ(nullptr, e().Proc("_SM3HashData@24"));
}

TEST_F(EngineTest, LifeCycle) {
    const Bytes abc = {'a', 'b', 'c'};
    EXPECT_EQ(OVALON_E_NOT_INITIALIZED, e().Data(abc, 0, nullptr));

    ASSERT_EQ(OVALON_OK, e().init());
    std::string first;
    ASSERT_EQ(OVALON_OK, e().Data(abc, 0, nullptr, &first));

    EXPECT_EQ(OVALON_OK, e().uninit());
    EXPECT_EQ(OVALON_E_NOT_INITIALIZED, e().Data(abc, 0, nullptr));
    TempFile f(abc);
    EXPECT_EQ(OVALON_E_NOT_INITIALIZED, e().File(f.path, 0, nullptr));

    ASSERT_EQ(OVALON_OK, e().init());
    ASSERT_EQ(OVALON_OK, e().init());  // twice is harmless
    std::string again;
    ASSERT_EQ(OVALON_OK, e().Data(abc, 0, nullptr, &again));
    EXPECT_EQ(first, again);
}

TEST_F(EngineTest, Sm3PublishedVectors) {
    ASSERT_EQ(OVALON_OK, e().init());
    std::string hex;
    ASSERT_EQ(OVALON_OK, e().Data({'a', 'b', 'c'}, 0, nullptr, &hex));
    EXPECT_EQ("66C7F0F462EEEDD9D1F2D46BDC10E4E24167C4875CF2F7A2297DA02B8F4BA8E0", hex);
    Bytes abcd;
    for (int i = 0; i < 16; ++i) abcd.insert(abcd.end(), {'a', 'b', 'c', 'd'});
    ASSERT_EQ(OVALON_OK, e().Data(abcd, 0, nullptr, &hex));
    EXPECT_EQ("DEBE9FF92275B8A138604889C18E5A4D6FDB70E5387E5765293DCBA39C0C5732", hex);
}

TEST_F(EngineTest, FileDigestEqualsDataDigest) {
    ASSERT_EQ(OVALON_OK, e().init());
    // Empty, one byte, exactly the engine's read block, and a few blocks plus a tail; the plain
    // digests as OpenSSL computes them (openssl dgst -sm3) for bytes (i * 2654435761) >> 24.
    const struct {
        size_t size;
        const char* sm3;
    } cases[] = {
        {0, "1AB21D8355CFA17F8E61194831E81A8F22BEC8C728FEFB747ED035EB5082AA2B"},
        {1, "2DAEF60E7A0B8F5E024C81CD2AB3109F2B4F155CF83ADEB2AE5532F74A157FDF"},
        {256 * 1024, "6A94E1C9132A2A14F1B1658D191EE08916F1AB5C56D0A69F4AC8ACDD987B5815"},
        {3 * 256 * 1024 + 77, "00CB90F591F80A1F8D55EEC8057B504B228E6A0C46C3ECC89F6D921CE468ED54"},
    };
    for (const auto& k : cases) {
        Bytes data(k.size);
        for (size_t i = 0; i < k.size; ++i) data[i] = static_cast<unsigned char>((i * 2654435761u & 0xFFFFFFFFu) >> 24);
        TempFile f(data);
        for (int withZ : {0, 1}) {
            std::string fromData, fromFile;
            ASSERT_EQ(OVALON_OK, e().Data(data, withZ, kSm2Cert, &fromData)) << k.size;
            ASSERT_EQ(OVALON_OK, e().File(f.path, withZ, kSm2Cert, &fromFile)) << k.size;
            EXPECT_EQ(fromData, fromFile) << "size " << k.size << " withZ " << withZ;
            if (!withZ) {
                EXPECT_EQ(k.sm3, fromFile) << "size " << k.size;
            }
        }
    }
}

TEST_F(EngineTest, FileNameInTheAnsiCodePage) {
    ASSERT_EQ(OVALON_OK, e().init());
    const Bytes data = RandomBytes(1000, 7);
    // "数据" as the ANSI bytes the control would pass.
    TempFile f(data, "\xca\xfd\xbe\xdd-sm3.bin");
    std::string fromData, fromFile;
    ASSERT_EQ(OVALON_OK, e().Data(data, 0, nullptr, &fromData));
    ASSERT_EQ(OVALON_OK, e().File(f.path, 0, nullptr, &fromFile));
    EXPECT_EQ(fromData, fromFile);
}

TEST_F(EngineTest, WithZDependsOnTheCertificateOnly) {
    ASSERT_EQ(OVALON_OK, e().init());
    const Bytes msg = RandomBytes(100, 8);
    std::string plain, z1, z2, zMinus, oneLine;
    ASSERT_EQ(OVALON_OK, e().Data(msg, 0, nullptr, &plain));
    ASSERT_EQ(OVALON_OK, e().Data(msg, 1, kSm2Cert, &z1));
    ASSERT_EQ(OVALON_OK, e().Data(msg, 2, kSm2Cert, &z2));
    ASSERT_EQ(OVALON_OK, e().Data(msg, -1, kSm2Cert, &zMinus));
    EXPECT_NE(plain, z1);
    EXPECT_EQ(z1, z2);
    EXPECT_EQ(z1, zMinus);
    // The same certificate without line breaks.
    std::string flat;
    for (const char* p = kSm2Cert; *p; ++p)
        if (*p != '\r' && *p != '\n') flat += *p;
    ASSERT_EQ(OVALON_OK, e().Data(msg, 1, flat.c_str(), &oneLine));
    EXPECT_EQ(z1, oneLine);
    // withZ 0 does not look at the certificate at all.
    std::string ignored;
    ASSERT_EQ(OVALON_OK, e().Data(msg, 0, "%%% not a certificate %%%", &ignored));
    EXPECT_EQ(plain, ignored);
}

// ---- call after call --------------------------------------------------------------------------

Bytes FromBase64(const std::string& text) {
    DWORD n = 0;
    CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &n, nullptr, nullptr);
    Bytes der(n);
    EXPECT_TRUE(CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64, der.data(), &n, nullptr, nullptr));
    return der;
}

std::string ToBase64(const Bytes& der) {
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD n = 0;
    CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, nullptr, &n);
    std::string text(n, '\0');
    EXPECT_TRUE(CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, &text[0], &n));
    text.resize(n);
    return text;
}

// Where `bytes` first occurs in der.
size_t Find(const Bytes& der, std::initializer_list<unsigned char> bytes) {
    const auto at = std::search(der.begin(), der.end(), bytes.begin(), bytes.end());
    EXPECT_NE(der.end(), at);
    return static_cast<size_t>(at - der.begin());
}

// Committed private memory (PagefileUsage: Wine leaves PrivateUsage at zero).
long long CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<long long>(counters.PagefileUsage);
}

// Standard error of the C runtime the engine and its libraries write through (msvcrt.dll, shared
// with this program) sent to a temporary file for the object's life.
class StandardErrorCaught {
public:
    StandardErrorCaught() {
        char dir[MAX_PATH], file[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "err", 0, file);
        path_ = file;
        fflush(stderr);
        saved_ = _dup(2);
        const int fd = _open(path_.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
        EXPECT_LE(0, fd);
        _dup2(fd, 2);
        _close(fd);
    }
    ~StandardErrorCaught() {
        Restore();
        DeleteFileA(path_.c_str());
    }
    // What was written, standard error being given back.
    std::string Text() {
        Restore();
        std::string text;
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        char buffer[4096];
        DWORD got = 0;
        if (h != INVALID_HANDLE_VALUE && ReadFile(h, buffer, sizeof buffer, &got, nullptr)) text.assign(buffer, got);
        CloseHandle(h);
        return text;
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        fflush(stderr);
        _dup2(saved_, 2);
        _close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

// A page may loop over one certificate: no shape of certificate may cost memory call after call,
// nor have anything written to the host's standard error (a pipe nobody reads stops the host).
TEST_F(EngineTest, TenThousandCallsPerCertificateShapeCostNoMemoryAndWriteNothing) {
    ASSERT_EQ(OVALON_OK, e().init());
    const Bytes sm2 = FromBase64(kSm2Cert);
    ASSERT_EQ(0x6D, sm2[3]);  // 30 82 01 6D
    // Three more bytes, an element [UNIVERSAL 0] of length 1, after the signature.
    Bytes trailing = sm2;
    trailing[3] += 3;
    trailing.insert(trailing.end(), {0x00, 0x01, 0x82});
    // The key's BIT STRING claiming one unused bit.
    Bytes unusedBit = sm2;
    unusedBit[Find(sm2, {0x03, 0x42, 0x00, 0x04}) + 2] = 0x01;
    // An RSA key whose modulus length runs past its BIT STRING.
    Bytes rsa = FromBase64(kRsaCert);
    rsa[Find(rsa, {0x03, 0x4B, 0x00, 0x30, 0x48, 0x02, 0x41}) + 6] = 0x84;
    const struct {
        const char* what;
        std::string cert;
        int status;
    } shapes[] = {
        {"valid", kSm2Cert, OVALON_OK},
        {"30 00 00 01 82", "MAAAAYI=", OVALON_E_BAD_CERTIFICATE},
        {"30 05 00 03 33 8A 22", "MAUAAzOKIg==", OVALON_E_BAD_CERTIFICATE},
        {"30 00 00 01 7F", "MAAAAX8=", OVALON_E_BAD_CERTIFICATE},
        {"00 01 82 after the signature", ToBase64(trailing), OVALON_E_BAD_CERTIFICATE},
        {"an unused bit in the key", ToBase64(unusedBit), OVALON_E_BAD_PUBLIC_KEY},
        {"RSA modulus past its end", ToBase64(rsa), OVALON_E_NOT_SM2_KEY},
        {"30 03 30 01 00 00", "MAMwAQAA", OVALON_E_BAD_CERTIFICATE},
        {"30 82 00 05 30 03 02 01 FF", "MIIABTADAgH/", OVALON_E_BAD_CERTIFICATE},
        {"30 03 02 01 00 FF", "MAMCAQD/", OVALON_E_BAD_CERTIFICATE},
    };
    const Bytes msg = {1, 2, 3};
    const int kCalls = 10000;
    StandardErrorCaught caught;
    for (const auto& shape : shapes) {
        for (int i = 0; i < 20; ++i) e().Data(msg, 1, shape.cert.c_str());  // allocations settled
        const long long before = CommittedBytes();
        int wrong = 0;
        for (int i = 0; i < kCalls; ++i) wrong += e().Data(msg, 1, shape.cert.c_str()) != shape.status;
        const long long grown = CommittedBytes() - before;
        EXPECT_EQ(0, wrong) << shape.what << ": not status " << std::hex << shape.status;
        EXPECT_LT(grown, 1 << 20) << shape.what << ": " << grown / kCalls << " bytes a call";
    }
    EXPECT_EQ("", caught.Text()) << "written to standard error";
}

TEST_F(EngineTest, FailuresReturnTheirStatusAndClearOutputs) {
    ASSERT_EQ(OVALON_OK, e().init());
    const Bytes msg = {1, 2, 3};
    EXPECT_EQ(OVALON_E_NO_CERTIFICATE, e().Data(msg, 1, nullptr));
    EXPECT_EQ(OVALON_E_NO_CERTIFICATE, e().Data(msg, 1, ""));
    EXPECT_EQ(OVALON_E_NO_CERTIFICATE, e().Data(msg, 1, "\r\n"));
    EXPECT_EQ(OVALON_E_BAD_BASE64, e().Data(msg, 1, "MIIB$$$$"));
    EXPECT_EQ(OVALON_E_BAD_CERTIFICATE, e().Data(msg, 1, "aGVsbG8gd29ybGQ="));
    EXPECT_EQ(OVALON_E_BAD_CERTIFICATE, e().Data(msg, 1, std::string(kSm2Cert, 200).c_str()));
    EXPECT_EQ(OVALON_E_NOT_SM2_KEY, e().Data(msg, 1, kP256Cert));

    TempFile f(msg);
    EXPECT_EQ(OVALON_E_NOT_SM2_KEY, e().File(f.path, 1, kP256Cert));
    EXPECT_EQ(OVALON_E_FILE_OPEN, e().File(f.path + ".missing", 0, nullptr));
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    EXPECT_EQ(OVALON_E_FILE_OPEN, e().File(dir, 0, nullptr));

    // Argument errors: whatever outputs were given are cleared.
    unsigned char* out = kPoisonPtr;
    int len = kPoisonLen;
    EXPECT_EQ(OVALON_E_INVALID_ARG, e().hashData(msg.data(), -1, 0, nullptr, &out, &len));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, len);
    len = kPoisonLen;
    EXPECT_EQ(OVALON_E_INVALID_ARG, e().hashData(nullptr, 5, 0, nullptr, &out, &len));
    EXPECT_EQ(0, len);
    len = kPoisonLen;
    EXPECT_EQ(OVALON_E_INVALID_ARG, e().hashData(msg.data(), 3, 0, nullptr, nullptr, &len));
    EXPECT_EQ(0, len);
    out = kPoisonPtr;
    EXPECT_EQ(OVALON_E_INVALID_ARG, e().hashData(msg.data(), 3, 0, nullptr, &out, nullptr));
    EXPECT_EQ(nullptr, out);
    out = kPoisonPtr;
    len = kPoisonLen;
    EXPECT_EQ(OVALON_E_INVALID_ARG, e().hashFile(nullptr, 0, nullptr, &out, &len));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, len);
    EXPECT_EQ(OVALON_E_INVALID_ARG, e().hashFile(f.path.c_str(), 0, nullptr, nullptr, nullptr));

    e().freeMemory(nullptr);  // tolerated
}

// ---- the entries this engine does not offer -------------------------------------------------

typedef int(__stdcall* DataKeyOut)(const unsigned char*, int, const char*, unsigned char**, int*);
typedef int(__stdcall* DataKeyKeyOut)(const unsigned char*, int, const char*, const char*,
                                      unsigned char**, int*);
typedef int(__stdcall* DataBlobOut)(const unsigned char*, int, const unsigned char*, int,
                                    unsigned char**, int*);
typedef int(__stdcall* PathKeyOut)(const char*, const char*, unsigned char**, int*);
typedef int(__stdcall* DataOut)(const unsigned char*, int, unsigned char**, int*);

struct Outputs {
    unsigned char* p1 = kPoisonPtr;
    int n1 = kPoisonLen;
    unsigned char* p2 = kPoisonPtr;
    int n2 = kPoisonLen;
    void ExpectCleared(const char* name, bool both = false) const {
        EXPECT_EQ(nullptr, p1) << name;
        EXPECT_EQ(0, n1) << name;
        if (both) {
            EXPECT_EQ(nullptr, p2) << name;
            EXPECT_EQ(0, n2) << name;
        }
    }
};

TEST_F(EngineTest, UnofferedEntriesReportNotSupportedAndClearOutputs) {
    ASSERT_EQ(OVALON_OK, e().init());
    const unsigned char data[4] = {1, 2, 3, 4};
    const unsigned char key[16] = {};

    for (const char* name : {"SignData_PKCS1", "SignData_PKCS7Detached", "SignData_PKCS7Attached",
                             "EncryptDataToCMSEnvelope", "DecryptDataFromCMSEnvelope",
                             "DecryptAndVerifyDataSignature", "SM2EncryptData", "SM2DecryptData",
                             "SM2SignHash"}) {
        auto fn = reinterpret_cast<DataKeyOut>(e().Proc(name));
        ASSERT_NE(nullptr, fn) << name;
        Outputs o;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(data, 4, kSm2Cert, &o.p1, &o.n1)) << name;
        o.ExpectCleared(name);
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(nullptr, 0, nullptr, nullptr, nullptr)) << name;
    }
    for (const char* name : {"SignAndEncryptData", "SM2DecryptDatabySM2File", "SM2SignHashbySM2File"}) {
        auto fn = reinterpret_cast<DataKeyKeyOut>(e().Proc(name));
        ASSERT_NE(nullptr, fn) << name;
        Outputs o;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(data, 4, "a", "b", &o.p1, &o.n1)) << name;
        o.ExpectCleared(name);
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(nullptr, 0, nullptr, nullptr, nullptr, nullptr)) << name;
    }
    for (const char* name : {"SM2EncryptDatabyKey", "SM2DecryptDatabyKey", "SM4EncryptData",
                             "SM4DecryptData"}) {
        auto fn = reinterpret_cast<DataBlobOut>(e().Proc(name));
        ASSERT_NE(nullptr, fn) << name;
        Outputs o;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(data, 4, key, 16, &o.p1, &o.n1)) << name;
        o.ExpectCleared(name);
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(nullptr, 0, nullptr, 0, nullptr, nullptr)) << name;
    }
    {
        auto fn = reinterpret_cast<PathKeyOut>(e().Proc("SignFile_PKCS7Detached"));
        Outputs o;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn("x", "k", &o.p1, &o.n1));
        o.ExpectCleared("SignFile_PKCS7Detached");
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(nullptr, nullptr, nullptr, nullptr));
    }
    {
        auto fn = reinterpret_cast<DataOut>(e().Proc("VerifyDataSignature_PKCS7Attached"));
        Outputs o;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(data, 4, &o.p1, &o.n1));
        o.ExpectCleared("VerifyDataSignature_PKCS7Attached");
    }
    {
        auto fn = reinterpret_cast<DataBlobOut>(e().Proc("VerifyDataSignature_PKCS7Detached"));
        Outputs o;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(data, 4, data, 4, &o.p1, &o.n1));
        o.ExpectCleared("VerifyDataSignature_PKCS7Detached");
    }
    {
        auto fn = reinterpret_cast<int(__stdcall*)(unsigned char**, int*, unsigned char**, int*)>(
            e().Proc("GenerateSM2KeyPair"));
        Outputs o;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(&o.p1, &o.n1, &o.p2, &o.n2));
        o.ExpectCleared("GenerateSM2KeyPair", true);
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(nullptr, nullptr, nullptr, nullptr));
    }
    {
        auto fn = reinterpret_cast<int(__stdcall*)(const char*, int, char**, int*)>(
            e().Proc("GetCertificateInfo"));
        char* info = reinterpret_cast<char*>(kPoisonPtr);
        int n = kPoisonLen;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(kSm2Cert, 1, &info, &n));
        EXPECT_EQ(nullptr, info);
        EXPECT_EQ(0, n);
    }
    {
        auto fn = reinterpret_cast<int(__stdcall*)(const unsigned char*, int, const char*, char**, int*)>(
            e().Proc("GetPublicCertFromPFX"));
        char* cert = reinterpret_cast<char*>(kPoisonPtr);
        int n = kPoisonLen;
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn(data, 4, "pw", &cert, &n));
        EXPECT_EQ(nullptr, cert);
        EXPECT_EQ(0, n);
    }
    // Entries without outputs.
    auto verifyCert = reinterpret_cast<int(__stdcall*)(const char*)>(e().Proc("VerifyCertificate"));
    EXPECT_EQ(OVALON_E_NOT_SUPPORTED, verifyCert(kSm2Cert));
    auto verify1 = reinterpret_cast<int(__stdcall*)(const unsigned char*, int, const unsigned char*, int,
                                                    const char*)>(e().Proc("VerifyDataSignature_PKCS1"));
    EXPECT_EQ(OVALON_E_NOT_SUPPORTED, verify1(data, 4, data, 4, kSm2Cert));
    auto verifyHash = reinterpret_cast<int(__stdcall*)(const unsigned char*, int, const unsigned char*, int,
                                                       const char*)>(e().Proc("SM2VerifyHash"));
    EXPECT_EQ(OVALON_E_NOT_SUPPORTED, verifyHash(data, 4, data, 4, kSm2Cert));
    auto verifyFile = reinterpret_cast<int(__stdcall*)(const char*, const unsigned char*, int)>(
        e().Proc("VerifyFileSignature_PKCS7Detached"));
    EXPECT_EQ(OVALON_E_NOT_SUPPORTED, verifyFile("x", data, 4));
    for (const char* name : {"SM4EncryptFile", "SM4DecryptFile"}) {
        auto fn = reinterpret_cast<int(__stdcall*)(const char*, const char*, const unsigned char*, int)>(
            e().Proc(name));
        EXPECT_EQ(OVALON_E_NOT_SUPPORTED, fn("in", "out", key, 16)) << name;
    }
}

// ---- the broken copies the control's failure tests use -----------------------------------------

TEST(EngineTestData, NoExportCopyLacksOnlySM4DecryptFile) {
    Engine copy(ExeDirectory() + "..\\testdata\\engine-noexport\\" + testsupport::kEngineFile);
    ASSERT_NE(nullptr, copy.module());
    for (const char* name : kExports) {
        if (std::strcmp(name, "SM4DecryptFile") == 0)
            EXPECT_EQ(nullptr, copy.Proc(name));
        else
            EXPECT_NE(nullptr, copy.Proc(name)) << name;
    }
}

TEST(EngineTestData, InitFailCopyFailsToInitialize) {
    Engine copy(ExeDirectory() + "..\\testdata\\engine-initfail\\" + testsupport::kEngineFile);
    ASSERT_NE(nullptr, copy.module());
    for (const char* name : kExports) EXPECT_NE(nullptr, copy.Proc(name)) << name;
    EXPECT_EQ(OVALON_E_INIT_FAILED, copy.init());
    EXPECT_EQ(OVALON_E_NOT_INITIALIZED, copy.Data({'a'}, 0, nullptr));
    EXPECT_EQ(OVALON_OK, copy.uninit());
}

}  // namespace
