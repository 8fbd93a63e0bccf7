// The module object: one per process, home of the services shared by every control object and
// of the little module-wide state they keep (the name counter, the crypto engine binding).
#pragma once
#include <windows.h>
#include <string>

class CTarnwickApp {
public:
    CTarnwickApp();

    // Module start and end, run from the module's entry point.
    BOOL InitInstance();
    int ExitInstance(bool processExiting = false);

    // System error texts for the thread's last error code.
    std::string GetSystemErrorText();
    std::string GetSystemErrorTextWithCode();

    // File size, low 32 bits read as signed, or -1; errorText is emptied first.
    long QueryFileSize(const std::string& path, std::string& errorText);

    // Temporary names, directories and files.
    static std::string ByteToHex(unsigned char byte);
    std::string MakeUniqueName();
    std::string GetModuleDirectory();
    std::string GetTempDirectory();
    BOOL IsInTempDirectory(const std::string& path);
    BOOL RemoveDirectoryTree(const std::string& directory);
    long WriteBufferToFile(const std::string& path, const void* bytes, DWORD count);

    // Crypto engine binding and the SM3 wrappers.
    bool IsCryptoEngineLoaded() const { return m_hCryptoEngine != nullptr; }
    int LoadCryptoEngine(std::string& errorText);
    void UnloadCryptoEngine(bool processExiting);
    int SM3FileToHex(const std::string& path, long nWithZValue, const std::string& cert,
                     std::string& result, std::string& errorText);
    int SM3DataToHex(const unsigned char* data, DWORD count, long nWithZValue,
                     const std::string& cert, std::string& result, std::string& errorText);

    template <typename Request>
    int RunSM3(Request request, std::string& result, std::string& errorText);

    int m_nNameCounter = 0;

    // The system's temporary-path query; a seam so tests can make it fail.
    DWORD (WINAPI* m_pfnGetTempPathA)(DWORD, LPSTR) = ::GetTempPathA;

    HMODULE m_hCryptoEngine = nullptr;
    struct EngineEntries;
    EngineEntries* m_pfnEngine = nullptr;
};

// The one module object.
CTarnwickApp& TarnwickApp();
