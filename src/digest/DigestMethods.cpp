// The four digest methods: SHA-256 computed here, SM3 by the crypto engine; upper-case hex.
#include "control/TarnwickApp.h"
#include "control/TarnwickCtrl.h"
#include "digest/CSHA256.h"
#include "digest/Messages.h"
#include "framework/NarrowString.h"
#include "framework/Owners.h"
#include <cstdio>
#include <memory>
#include <new>

using tarnwick::Format;

namespace {
constexpr DWORD kReadBlock = 1 << 20;  // files are hashed a block at a time, in constant memory
}

std::string CTarnwickCtrl::GetLocalFileSHA256(LPCSTR strFilePath) {
    CTarnwickApp& app = TarnwickApp();
    std::string path = strFilePath ? strFilePath : "";
    std::string result;
    if (ValidateFilePath(path) != 0) return result;

    tarnwick::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        m_strLastError = Format(msg::kOpenFailed, path.c_str(), app.GetSystemErrorTextWithCode().c_str());
        return result;
    }

    DWORD high = 0;
    DWORD size = GetFileSize(file.get(), &high);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        // The size a second way: the end position of an append-mode stream.
        FILE* stream = fopen(path.c_str(), "a");
        if (!stream) {
            m_strLastError = Format(msg::kSizeFailed, path.c_str(), app.GetSystemErrorTextWithCode().c_str());
            return result;
        }
        fseek(stream, 0, SEEK_END);
        size = static_cast<DWORD>(ftell(stream));
        fclose(stream);
        high = 0;
    }
    if (high != 0) {
        m_strLastError = Format(msg::kTooLarge, path.c_str());
        return result;
    }
    if (size == 0) {
        m_strLastError = Format(msg::kSizeZero, path.c_str());
        return result;
    }

    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kReadBlock]);
    if (!block) {
        m_strLastError = Format(msg::kNoMemory, app.GetSystemErrorTextWithCode().c_str());
        return result;
    }

    digest::Sha256 hash;
    DWORD total = 0;
    while (total < size) {
        DWORD want = size - total < kReadBlock ? size - total : kReadBlock;
        DWORD got = 0;
        if (!ReadFile(file.get(), block.get(), want, &got, nullptr) || got == 0) break;
        hash.Update(block.get(), got);
        total += got;
    }
    if (total != size) {
        m_strLastError = Format(msg::kReadFailed, path.c_str(), static_cast<int>(total),
                                static_cast<int>(size), app.GetSystemErrorTextWithCode().c_str());
        return result;
    }
    unsigned char digestBytes[digest::Sha256::kDigestSize];
    hash.Final(digestBytes);
    char text[128] = {};
    CSHA256::ToHex(text, digestBytes);
    result = text;
    return result;
}

std::string CTarnwickCtrl::GetLocalFileSM3(LPCSTR strFilePath, long nWithZValue,
                                           LPCSTR strBase64Cert) {
    CTarnwickApp& app = TarnwickApp();
    std::string path = strFilePath ? strFilePath : "";
    std::string result;
    if (ValidateFilePath(path) != 0) return result;
    if (!app.IsCryptoEngineLoaded() && app.LoadCryptoEngine(m_strLastError) != 0) return result;
    app.SM3FileToHex(path, nWithZValue, strBase64Cert ? strBase64Cert : "", result, m_strLastError);
    return result;
}

std::string CTarnwickCtrl::GetMemFileSHA256(IDispatch* lpIDisp) {
    std::string result;
    std::vector<unsigned char> bytes;
    if (!GetMemFileBytes(lpIDisp, bytes)) return result;
    char text[128] = {};
    CSHA256().HashToHex(text, bytes.data(), static_cast<unsigned int>(bytes.size()));
    result = text;
    return result;
}

std::string CTarnwickCtrl::GetMemFileSM3(IDispatch* lpIDisp, long nWithZValue,
                                         LPCSTR strBase64Cert) {
    CTarnwickApp& app = TarnwickApp();
    std::string result;
    std::vector<unsigned char> bytes;
    if (!GetMemFileBytes(lpIDisp, bytes)) return result;
    if (!app.IsCryptoEngineLoaded() && app.LoadCryptoEngine(m_strLastError) != 0) return result;
    app.SM3DataToHex(bytes.data(), static_cast<DWORD>(bytes.size()), nWithZValue,
                     strBase64Cert ? strBase64Cert : "", result, m_strLastError);
    return result;
}
