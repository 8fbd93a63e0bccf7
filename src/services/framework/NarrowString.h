// Narrow strings: the control keeps every path, name, message and result as a std::string of
// bytes in the system's ANSI code page. These helpers convert at the script boundary and format.
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

// A new script string from a narrow string; the caller owns it. Throws std::bad_alloc.
BSTR AnsiToBstr(const std::string& text);

// Lower-cases the ASCII letters, stepping over both bytes of every double-byte character so a
// trail byte that happens to look like a capital letter is left alone.
std::string MakeLower(const std::string& text);

// A string resource of the control module, loaded in the ANSI code page into a 256-byte buffer;
// empty when the resource is missing.
std::string LoadModuleString(UINT id);

}  // namespace tarnwick
