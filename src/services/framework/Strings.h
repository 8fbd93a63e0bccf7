// Strings at the edges: paths, names and texts stay UTF-16 from the script to the file system;
// these helpers format, make script strings and read the module's string resources (code pages
// are converted by the Windows layer's CodePage.h).
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

namespace tarnwick {

// printf-style formatting into a narrow string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A new script string; the caller owns it. Throws std::bad_alloc.
BSTR ToBstr(const std::wstring& text);

// A string resource of the control module (at most 255 characters); empty when it is missing.
std::wstring LoadModuleString(UINT id);

// Lower-cases the ASCII letters only.
std::wstring LowerAscii(const std::wstring& text);

}  // namespace tarnwick
