// The control's modal message box: the page's thread waits until the user closes it.
#pragma once

namespace tarnwick {

// Caption of the control's message boxes: the module's application title.
constexpr wchar_t kApplicationTitle[] = L"tarnwick";

// Shows text with an OK button, owned by the active window; returns the button pressed (or 0 when
// no box could be shown).
int ShowMessageBox(const wchar_t* text);

}  // namespace tarnwick
