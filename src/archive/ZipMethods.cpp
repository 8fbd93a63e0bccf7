// Packing a local file into a new archive in the temporary directory, and deleting archives
// this control made.
#include "archive/Messages.h"
#include "control/TarnwickApp.h"
#include "control/TarnwickCtrl.h"
#include "framework/MessageBox.h"
#include "framework/NarrowString.h"

std::string CTarnwickCtrl::CreateZipFromLocalFile(LPCSTR strFilePath) {
    CTarnwickApp& app = TarnwickApp();
    std::string source = strFilePath ? strFilePath : "";
    if (ValidateFilePath(source) != 0) return std::string();

    std::string name = tarnwick::Format("%d_%s.zip", static_cast<int>(GetCurrentThreadId()),
                                        app.MakeUniqueName().c_str());
    std::string archive = app.GetTempDirectory() + name;
    if (ZipFile(source, name, app.GetTempDirectory()) == -1) {
        tarnwick::ShowMessageBox(msg::kZipBox);
        return std::string();
    }
    m_saCreatedFiles.push_back(archive);
    return archive;
}

int CTarnwickCtrl::FindCreatedFile(const std::string& path) {
    for (size_t i = 0; i < m_saCreatedFiles.size(); ++i) {
        if (m_saCreatedFiles[i] == path) return static_cast<int>(i);
    }
    return -1;
}

long CTarnwickCtrl::DeleteFileFromCreateZip(LPCSTR strFilePath) {
    std::string path = strFilePath ? strFilePath : "";
    if (FindCreatedFile(path) < 0) {
        m_strLastError = tarnwick::Format(msg::kNotCreatedHere, path.c_str());
        return -1;
    }
    if (DeleteFileA(path.c_str())) return 0;
    m_strLastError = TarnwickApp().GetSystemErrorText();
    return 1;
}
