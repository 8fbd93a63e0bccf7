// The control's modal message box: the page's thread waits until the user closes it.
#pragma once

namespace tarnwick {

// Caption of the control's message boxes: the module's application title.
constexpr char kApplicationTitle[] = "tarnwick";

// Shows text (a code page 936 literal, shown as the same characters on any desktop) with an OK button, owned by the active window; returns the
// button pressed (or 0 when no box could be shown).
int ShowMessageBox(const char* text);

}  // namespace tarnwick
