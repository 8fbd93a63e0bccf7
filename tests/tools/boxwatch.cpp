// Plays the user in front of a modal message box: waits for the box, writes its text (ANSI code
// page) and caption to a file, and presses OK.
//   boxwatch.exe OUTPUT_FILE [TIMEOUT_MS]
// Exits 0 when a box was seen and closed, 1 when none appeared in time.
#include <windows.h>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    DWORD timeout = argc > 2 ? static_cast<DWORD>(atoi(argv[2])) : 10000;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout) {
        HWND box = FindWindowA("#32770", nullptr);
        if (box && IsWindowVisible(box)) {
            char text[1024] = {}, caption[256] = {};
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text) - 1);
            GetWindowTextA(box, caption, sizeof(caption) - 1);
            FILE* out = fopen(argv[1], "wb");
            if (out) {
                fprintf(out, "%s\n%s", caption, text);
                fclose(out);
            }
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        }
        Sleep(20);
    }
    return 1;
}
