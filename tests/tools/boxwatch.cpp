// Plays the user in front of a modal message box: waits for the box, writes its caption and text
// to a file (UTF-16, so the characters are those the user saw on any desktop), and presses OK.
//   boxwatch.exe OUTPUT_FILE [TIMEOUT_MS]
// Exits 0 when a box was seen and closed, 1 when none appeared in time.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    DWORD timeout = argc > 2 ? static_cast<DWORD>(atoi(argv[2])) : 10000;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout) {
        HWND box = FindWindowA("#32770", nullptr);
        if (box && IsWindowVisible(box)) {
            wchar_t text[1024] = {}, caption[256] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1023);
            GetWindowTextW(box, caption, 255);
            FILE* out = fopen(argv[1], "wb");
            if (out) {
                const wchar_t bom = 0xFEFF, newline = L'\n';
                fwrite(&bom, sizeof(bom), 1, out);
                fwrite(caption, sizeof(wchar_t), wcslen(caption), out);
                fwrite(&newline, sizeof(newline), 1, out);
                fwrite(text, sizeof(wchar_t), wcslen(text), out);
                fclose(out);
            }
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        }
        Sleep(20);
    }
    return 1;
}
