// File size: the native open first, the C stream library as the fallback.
#include "control/TarnwickApp.h"
#include "control/TarnwickCtrl.h"
#include <cstdio>

long CTarnwickApp::QueryFileSize(const std::string& path, std::string& errorText) {
    errorText.clear();
    HFILE file = HFILE_ERROR;
    long size = -1;
    try {
        OFSTRUCT info = {};
        info.cBytes = sizeof(info);
        file = OpenFile(path.c_str(), &info, OF_READ);
        bool needFallback = true;
        if (file == HFILE_ERROR) {
            errorText = GetSystemErrorTextWithCode();
        } else {
            DWORD low = GetFileSize(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)), nullptr);
            size = static_cast<long>(low);
            needFallback = (low == INVALID_FILE_SIZE);
        }
        if (needFallback) {
            // Append mode opens what a plain read-open may not; the size is the end position.
            FILE* stream = fopen(path.c_str(), "a");
            if (stream) {
                fseek(stream, 0, SEEK_END);
                size = ftell(stream);
                fclose(stream);
            }
        }
    } catch (...) {
        errorText = GetSystemErrorTextWithCode();
        size = -1;
    }
    if (file != HFILE_ERROR) _lclose(file);
    return size;
}

long CTarnwickCtrl::GetLocalFileSize(LPCSTR strFilePath) {
    std::string path = strFilePath ? strFilePath : "";
    if (ValidateFilePath(path) != 0) return -1;
    return TarnwickApp().QueryFileSize(path, m_strLastError);
}
