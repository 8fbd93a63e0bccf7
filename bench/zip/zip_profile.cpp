// Packs one file with ziptool.dll's ZipFileW, as the control does, and prints the wall time in
// milliseconds; the archive is left as WORK_DIR\profile.zip. With a ziptool.dll built with TARNWICK_ZIP_PROFILE
// the DLL appends its breakdown to the file the environment variable names (bench/zip/profile.sh).
//   zip_profile.exe ZIPTOOL_DLL SOURCE WORK_DIR   (WORK_DIR ends in a backslash)
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: zip_profile ZIPTOOL_DLL SOURCE WORK_DIR (ending in a backslash)\n");
        return 2;
    }
    HMODULE module = LoadLibraryW(argv[1]);
    using ZipFn = int(__stdcall*)(const wchar_t*, const wchar_t*, const wchar_t*);
    auto zip = module ? reinterpret_cast<ZipFn>(reinterpret_cast<void*>(GetProcAddress(module, "ZipFileW"))) : nullptr;
    if (!zip) {
        std::fprintf(stderr, "no ZipFileW in %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    const std::wstring archive = std::wstring(argv[3]) + L"profile.zip";
    DeleteFileW(archive.c_str());
    LARGE_INTEGER frequency{}, start{}, end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int result = zip(argv[2], L"profile.zip", argv[3]);
    QueryPerformanceCounter(&end);
    if (result != 0) {
        std::fprintf(stderr, "ZipFileW failed (error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("%lld\n", (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
    return 0;
}
