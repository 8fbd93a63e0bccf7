#include "MessageBox.h"
#include <windows.h>

namespace tarnwick {

int ShowMessageBox(const wchar_t* text) {
    return MessageBoxW(GetActiveWindow(), text, kApplicationTitle, MB_OK);
}

}  // namespace tarnwick
