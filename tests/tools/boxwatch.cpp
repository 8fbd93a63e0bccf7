// Plays the user in front of a modal message box: waits for the box with the given caption,
// writes its caption and text to a file (UTF-16, so the characters are those the user saw on any
// desktop), and presses OK.
//   boxwatch.exe OUTPUT_FILE TIMEOUT_MS CAPTION   watch; exits 0 when the box was seen and closed
//   boxwatch.exe --ready TIMEOUT_MS               returns once a watcher is watching (0) or not (1)
//   boxwatch.exe --stop TIMEOUT_MS                ends the watcher and returns once it is gone
// Other dialogs are left alone while the watcher waits. When no box of that caption came in time,
// any dialog still up is closed and written as "other box: caption\ntext", so that a script
// waiting on a box of the wrong kind fails instead of hanging.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

const wchar_t kReady[] = L"Local\\tarnwick-boxwatch-ready";
const wchar_t kStop[] = L"Local\\tarnwick-boxwatch-stop";
const wchar_t kRunning[] = L"Local\\tarnwick-boxwatch-running";

struct Search {
    const wchar_t* caption;  // null: any dialog
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t cls[16] = {}, caption[256] = {};
    GetClassNameW(window, cls, 16);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    GetWindowTextW(window, caption, 255);
    if (search->caption && wcscmp(caption, search->caption) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

HWND Find(const wchar_t* caption) {
    Search search = {caption, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Record(const char* path, HWND box, const wchar_t* prefix) {
    wchar_t text[1024] = {}, caption[256] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1023);
    GetWindowTextW(box, caption, 255);
    FILE* out = fopen(path, "wb");
    if (!out) return;
    const wchar_t bom = 0xFEFF, newline = L'\n';
    fwrite(&bom, sizeof(bom), 1, out);
    fwrite(prefix, sizeof(wchar_t), wcslen(prefix), out);
    fwrite(caption, sizeof(wchar_t), wcslen(caption), out);
    fwrite(&newline, sizeof(newline), 1, out);
    fwrite(text, sizeof(wchar_t), wcslen(text), out);
    fclose(out);
}

void Close(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

int Watch(const char* path, DWORD timeout, const wchar_t* caption) {
    HANDLE running = CreateMutexW(nullptr, TRUE, kRunning);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, kStop);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, kReady);
    if (!running || !stop || !ready) return 2;
    SetEvent(ready);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout) {
        if (HWND box = Find(caption)) {
            Record(path, box, L"");
            Close(box);
            return 0;
        }
        if (WaitForSingleObject(stop, 10) == WAIT_OBJECT_0) return 1;
    }
    if (HWND other = Find(nullptr)) {
        Record(path, other, L"other box: ");
        Close(other);
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const DWORD timeout = static_cast<DWORD>(atoi(argv[2]));
    if (strcmp(argv[1], "--ready") == 0) {
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, kReady);
        return ready && WaitForSingleObject(ready, timeout) == WAIT_OBJECT_0 ? 0 : 1;
    }
    if (strcmp(argv[1], "--stop") == 0) {
        HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, kStop);
        if (stop) SetEvent(stop);
        HANDLE running = OpenMutexW(SYNCHRONIZE, FALSE, kRunning);
        if (!running) return 0;  // no watcher left
        const DWORD wait = WaitForSingleObject(running, timeout);
        return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED ? 0 : 1;
    }
    if (argc < 4) return 2;
    const int length = MultiByteToWideChar(CP_ACP, 0, argv[3], -1, nullptr, 0);
    std::wstring caption(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, argv[3], -1, &caption[0], length);
    return Watch(argv[1], timeout, caption.c_str());
}
