// Strings at the edges: paths, names and texts stay UTF-16 from the script to the file system;
// these helpers convert where a narrow string is still wanted (the crypto engine's base64 text)
// and format.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

namespace tarnwick {

// printf-style formatting into a narrow string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Wide text to the ANSI code page; characters the code page cannot hold become its default
// character. Stops at the first NUL, as a C string would.
std::string WideToAnsi(const wchar_t* text, int length = -1);
std::wstring AnsiToWide(const std::string& text, UINT codePage = CP_ACP);

// A new script string; the caller owns it. Throws std::bad_alloc.
BSTR ToBstr(const std::wstring& text);

// A string resource of the control module (at most 255 characters); empty when it is missing.
std::wstring LoadModuleString(UINT id);

// Lower-cases the ASCII letters only.
std::wstring LowerAscii(const std::wstring& text);

// A path the wide file calls take at any length: long ones get the "\\?\" prefix on their full
// form; shorter ones stay as they are.
std::wstring ForFileCalls(const std::wstring& path);

}  // namespace tarnwick
