// ziptool.dll: the zip companion of the control.
//
// Two exports, __stdcall, by plain undecorated names. Every narrow string is in the ANSI code
// page of the process (936 on the target desktops). Both return ZIPTOOL_SUCCEEDED (0) or
// ZIPTOOL_FAILED (-1); after a failure GetLastError() names the cause as far as one is known
// (a file system error, ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS, ERROR_INVALID_NAME for an
// unsafe entry name, ERROR_CRC, ERROR_FILE_CORRUPT, ERROR_NOT_SUPPORTED, ERROR_FILE_TOO_LARGE,
// ERROR_INVALID_PARAMETER for null arguments).
//
//   int FileToZipFile(char* srcPath, char* zipName, char* zipDir)
//     Creates the new archive zipDir + zipName (plain concatenation; zipDir ends in '\') holding
//     one entry: the bytes of srcPath, deflated (or stored when deflating does not shrink them),
//     named after the last component of srcPath (see the names below). An existing file is never
//     replaced. Sources up to and beyond
//     4 GiB - 1 are streamed in blocks (Zip64 where needed). On failure no archive is left.
//
//   int ExtractFileToPath(const char* zipPath, char* destDir, unsigned int* count)
//     Creates destDir (which must not exist; its parent must) and extracts every entry of the
//     archive below it, creating intermediate directories. *count receives the number of files
//     written (directories are not counted). Stored and deflated entries, data descriptors and
//     Zip64 are read; every CRC-32 and size is verified. Entries whose names could leave destDir
//     or that Windows would alter, symbolic links, encrypted entries and other methods are
//     refused, as are archives beyond 65,536 entries or 1 GiB of inflated bytes. On any refusal
//     or failure destDir and everything in it is removed again. Files marked read-only in the
//     archive stay read-only.
//
//   int ExtractFileToPathBounded(const char* zipPath, char* destDir, unsigned int* count,
//                                unsigned int maxEntries, unsigned int maxMiB)
//     The same with the caller's bounds: at most maxEntries entries and maxMiB MiB inflated
//     (each at most the bounds above). A larger archive is refused (ERROR_FILE_TOO_LARGE) before
//     destDir is created.
//
//   int ZipFileW(const wchar_t* srcPath, const wchar_t* zipName, const wchar_t* zipDir)
//   int UnzipFileW(const wchar_t* zipPath, const wchar_t* destDir, unsigned int* count,
//                  unsigned int maxEntries, unsigned int maxMiB)
//     The same with UTF-16 paths of any length and any characters.
//
//   Entry names are stored in code page 936 when every character has a place there, otherwise
//   in UTF-8 with general-purpose flag bit 11; unpacking reads a flagged name as UTF-8 and any
//   other as code page 936.
#ifndef ZIPTOOL_H
#define ZIPTOOL_H

#define ZIPTOOL_SUCCEEDED 0
#define ZIPTOOL_FAILED (-1)

#ifdef _WIN32
#ifdef __cplusplus
extern "C" {
#endif

int __stdcall FileToZipFile(char* srcPath, char* zipName, char* zipDir);
int __stdcall ExtractFileToPath(const char* zipPath, char* destDir, unsigned int* count);
int __stdcall ExtractFileToPathBounded(const char* zipPath, char* destDir, unsigned int* count,
                                       unsigned int maxEntries, unsigned int maxMiB);

typedef int(__stdcall* FileToZipFileProc)(char* srcPath, char* zipName, char* zipDir);
typedef int(__stdcall* ExtractFileToPathProc)(const char* zipPath, char* destDir, unsigned int* count);
int __stdcall ZipFileW(const wchar_t* srcPath, const wchar_t* zipName, const wchar_t* zipDir);
int __stdcall UnzipFileW(const wchar_t* zipPath, const wchar_t* destDir, unsigned int* count,
                         unsigned int maxEntries, unsigned int maxMiB);
typedef int(__stdcall* ZipFileWProc)(const wchar_t* srcPath, const wchar_t* zipName, const wchar_t* zipDir);
typedef int(__stdcall* UnzipFileWProc)(const wchar_t* zipPath, const wchar_t* destDir, unsigned int* count,
                                       unsigned int maxEntries, unsigned int maxMiB);
typedef int(__stdcall* ExtractFileToPathBoundedProc)(const char* zipPath, char* destDir, unsigned int* count,
                                                     unsigned int maxEntries, unsigned int maxMiB);

#ifdef __cplusplus
}
#endif
#endif  // _WIN32

#endif  // ZIPTOOL_H
