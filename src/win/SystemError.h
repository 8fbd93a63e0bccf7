// The system's own text for an error code, as a page reads it (UTF-16, whatever the desktop's
// code page).
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick {

// The text exactly as the system delivers it (trailing line break included); empty if none.
std::wstring SystemErrorText(DWORD code);
// The same followed by " (code)"; empty if the system has no text.
std::wstring SystemErrorTextWithCode(DWORD code);

}  // namespace tarnwick
