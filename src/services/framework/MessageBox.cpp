#include "MessageBox.h"
#include "Render.h"
#include <windows.h>

namespace tarnwick {

int ShowMessageBox(const char* text) {
    return MessageBoxW(GetActiveWindow(), FromCodePage936(text).c_str(), FromCodePage936(kApplicationTitle).c_str(),
                       MB_OK);
}

}  // namespace tarnwick
