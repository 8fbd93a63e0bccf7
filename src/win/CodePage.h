// Text between UTF-16 and the narrow code pages, through one pair of functions that take the code
// page (CP_ACP, CP_UTF8, 936, ...).
#pragma once
#include <windows.h>
#include <string>
#include <string_view>

namespace tarnwick {

// Narrow text in codePage to UTF-16. strict: bytes that are not valid in the code page fail the
// call (false, wide empty) instead of becoming replacement characters.
bool ToWide(UINT codePage, std::string_view text, std::wstring& wide, bool strict = false);
std::wstring ToWide(UINT codePage, std::string_view text);

// UTF-16 to narrow text in codePage. Characters the code page cannot hold become its default
// character; lossy (when given) tells whether that happened, and then no best-fit substitutes
// are used either. False only when the system refuses the conversion.
bool FromWide(UINT codePage, std::wstring_view wide, std::string& text, bool* lossy = nullptr);
std::string FromWide(UINT codePage, std::wstring_view wide);

}  // namespace tarnwick
