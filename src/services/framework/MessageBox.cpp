#include "MessageBox.h"
#include <windows.h>

namespace tarnwick {

int ShowMessageBox(const char* text) {
    return MessageBoxA(GetActiveWindow(), text, kApplicationTitle, MB_OK);
}

}  // namespace tarnwick
