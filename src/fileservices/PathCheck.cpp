// The path check every local-file method runs first.
#include "control/TarnwickCtrl.h"
#include "control/TarnwickApp.h"
#include "fileservices/Messages.h"
#include "framework/NarrowString.h"
#include "framework/Owners.h"
#include "resources/resource.h"

using tarnwick::Format;

int CTarnwickCtrl::ValidateFilePath(const std::string& path) {
    if (path.empty()) {
        std::string text = tarnwick::LoadModuleString(IDS_PATH_EMPTY);
        if (!text.empty())
            m_strLastError = Format("%s", text.c_str());
        else
            m_strLastError = Format(msg::kPathEmptyNoResource,
                                    TarnwickApp().GetSystemErrorText().c_str());
        return -1;
    }
    return FileExists(path) ? 0 : -1;
}

// Anything the system's find-first lookup resolves counts as existing, directories included.
BOOL CTarnwickCtrl::FileExists(const std::string& path) {
    try {
        WIN32_FIND_DATAA data = {};
        tarnwick::UniqueFind find(FindFirstFileA(path.c_str(), &data));
        if (find) return TRUE;
        // A drive or share root has no directory entry of its own to find.
        if (path.find_first_of("*?") == std::string::npos) {
            DWORD attributes = GetFileAttributesA(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return TRUE;
        }
        std::string text = tarnwick::LoadModuleString(IDS_FILE_NOT_FOUND);
        if (!text.empty())
            m_strLastError = Format(msg::kFileNotFoundFormat, path.c_str(), text.c_str());
        else
            m_strLastError = Format(msg::kFileNotFoundNoResource,
                                    TarnwickApp().GetSystemErrorText().c_str());
        return FALSE;
    } catch (...) {
        m_strLastError = TarnwickApp().GetSystemErrorText();
        return FALSE;
    }
}
