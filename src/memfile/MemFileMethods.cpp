// The memory-file methods: the file type probe of a memory file or of a base64 text, and packing
// a memory file into a new archive. The probe and the zip library work on files on disk, so the
// bytes go to a temporary file first, which is removed again before the method returns.
//
// Where a page-given text becomes part of a path:
//  - the zip source file's name and the probe file's type (after its commas are removed) must be
//    a plain file name or extension: no path separators, no drive or other ':', no "..", no
//    character Windows refuses in a name, no trailing dot or blank (Windows would drop them and
//    name another file), and not a device name (CON, NUL, COM1 ...). Anything else is refused
//    with a message and the empty result, before the memory file is read or a file touched. The final path must also
//    pass IsInTempDirectory.
//  - an empty zip source name names the temporary directory itself: the write fails there and
//    the method reports its write-failure text, touching nothing.
//  - a temporary file is always created new: a file already standing under the zip source
//    file's name is never replaced or deleted; the call is refused with a message instead.
//  - a temporary file that cannot be written completely is removed again.
#include "control/TarnwickApp.h"
#include "control/TarnwickCtrl.h"
#include "framework/MessageBox.h"
#include "framework/NarrowString.h"
#include "framework/Owners.h"
#include "memfile/Messages.h"
#include <wincrypt.h>
#include <algorithm>
#include <new>

using tarnwick::Format;

namespace {

bool IsDeviceName(const std::wstring& name) {
    // The part before the first dot decides: "nul.txt" is the device too.
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$",
                                              L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : kDevices)
        if (_wcsicmp(stem.c_str(), device) == 0) return true;
    if (stem.size() == 4 && (_wcsnicmp(stem.c_str(), L"COM", 3) == 0 ||
                             _wcsnicmp(stem.c_str(), L"LPT", 3) == 0))
        return stem[3] >= L'0' && stem[3] <= L'9';
    return false;
}

// A name that Windows takes as one plain entry of the directory it is appended to. Checked on
// the wide form, as the system reads it: a trail byte of a double-byte character that equals
// '\' is part of that character, not a separator.
bool IsPlainName(const std::string& narrow) {
    std::wstring name = tarnwick::AnsiToWide(narrow);
    if (name.empty()) return false;
    for (wchar_t ch : name) {
        if (ch < 32 || wcschr(L"<>:\"/\\|?*", ch)) return false;
    }
    if (name.find(L"..") != std::wstring::npos) return false;
    if (name.back() == L'.' || name.back() == L' ') return false;
    return !IsDeviceName(name);
}

enum class WriteResult { Written, Exists, Failed };

// Writes the bytes to a file that must not exist yet. On a failed or short write the file is
// removed again (through its own handle, so nothing that took its name meanwhile is touched) and
// errorText holds the system's text for the failure.
WriteResult WriteNewFile(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string& errorText) {
    tarnwick::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return WriteResult::Exists;
        errorText = TarnwickApp().GetSystemErrorTextWithCode();
        return WriteResult::Failed;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr);
    if (ok && written == bytes.size()) return WriteResult::Written;
    if (ok) SetLastError(ERROR_WRITE_FAULT);  // a short write without an error of its own
    errorText = TarnwickApp().GetSystemErrorTextWithCode();
    FILE_DISPOSITION_INFO dispose = {TRUE};
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof(dispose))) {
        file.reset();
        DeleteFileA(path.c_str());
    }
    return WriteResult::Failed;
}

std::string WithoutCommas(LPCSTR text) {
    std::string type = text ? text : "";
    type.erase(std::remove(type.begin(), type.end(), ','), type.end());
    return type;
}

// The extension of a probe file may be empty (the name then ends in its dot, which the system
// drops); otherwise it must be a plain name.
bool IsUsableFileType(const std::string& type) { return type.empty() || IsPlainName(type); }

}  // namespace

// Writes the bytes to a new probe file in the temporary directory, runs the file type probe on
// it and removes it again. The file type is already checked.
static std::string ProbeBytes(CTarnwickCtrl& control, const std::vector<unsigned char>& bytes,
                              const std::string& type) {
    CTarnwickApp& app = TarnwickApp();
    std::string name = Format("%d_%d_%s.%s", static_cast<int>(GetTickCount()),
                              static_cast<int>(GetCurrentThreadId()),
                              app.MakeUniqueName().c_str(), type.c_str());
    std::string path = app.GetTempDirectory() + name;
    if (!app.IsInTempDirectory(path)) {
        control.m_strLastError = Format(msg::memfile::kBadFileType, type.c_str());
        return std::string();
    }
    std::string errorText;
    switch (WriteNewFile(path, bytes, errorText)) {
    case WriteResult::Written:
        break;
    case WriteResult::Exists:
        control.m_strLastError = Format(msg::memfile::kFileInTheWay, path.c_str());
        return std::string();
    case WriteResult::Failed:
        control.m_strLastError = Format(msg::memfile::kProbeWriteFailed, errorText.c_str());
        return std::string();
    }
    std::string result = control.GetLocalFileHeadSigned(path.c_str());
    DeleteFileA(path.c_str());
    return result;
}

std::string CTarnwickCtrl::GetMemFileHeadSigned(IDispatch* lpIDisp, LPCSTR strFileType) {
    std::string type = WithoutCommas(strFileType);
    if (!IsUsableFileType(type)) {
        m_strLastError = Format(msg::memfile::kBadFileType, type.c_str());
        return std::string();
    }
    std::vector<unsigned char> bytes;
    if (!GetMemFileBytes(lpIDisp, bytes)) return std::string();
    return ProbeBytes(*this, bytes, type);
}

// Text that decodes to no bytes (empty, or refused by the decoder) gives the empty result without
// a message, as does a block that cannot be allocated.
std::string CTarnwickCtrl::GetMemMD5FileHeadSigned(LPCSTR strFileInfo, LPCSTR strFileType) {
    std::string type = WithoutCommas(strFileType);
    if (!IsUsableFileType(type)) {
        m_strLastError = Format(msg::memfile::kBadFileType, type.c_str());
        return std::string();
    }
    const char* text = strFileInfo ? strFileInfo : "";
    DWORD size = 0;
    if (!CryptStringToBinaryA(text, 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr) ||
        size == 0)
        return std::string();
    std::vector<unsigned char> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return std::string();
    }
    if (!CryptStringToBinaryA(text, 0, CRYPT_STRING_BASE64, bytes.data(), &size, nullptr,
                              nullptr) ||
        size == 0)
        return std::string();
    bytes.resize(size);
    return ProbeBytes(*this, bytes, type);
}

std::string CTarnwickCtrl::CreateZipFromMemFile(IDispatch* lpIDisp, LPCSTR strFileName) {
    CTarnwickApp& app = TarnwickApp();
    std::string fileName = strFileName ? strFileName : "";
    std::string source = app.GetTempDirectory() + fileName;
    if (!fileName.empty() && (!IsPlainName(fileName) || !app.IsInTempDirectory(source))) {
        m_strLastError = Format(msg::memfile::kBadFileName, fileName.c_str());
        return std::string();
    }
    std::vector<unsigned char> bytes;
    if (!GetMemFileBytes(lpIDisp, bytes)) return std::string();

    if (fileName.empty()) {
        // The temporary directory itself, which cannot be created as a file: the write fails
        // there and the system's reason is reported. Nothing is touched.
        tarnwick::UniqueFile attempt(CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!attempt)
            m_strLastError =
                Format(msg::memfile::kZipWriteFailed, app.GetSystemErrorTextWithCode().c_str());
        return std::string();
    }
    std::string errorText;
    switch (WriteNewFile(source, bytes, errorText)) {
    case WriteResult::Written:
        break;
    case WriteResult::Exists:
        m_strLastError = Format(msg::memfile::kFileInTheWay, source.c_str());
        return std::string();
    case WriteResult::Failed:
        m_strLastError = Format(msg::memfile::kZipWriteFailed, errorText.c_str());
        return std::string();
    }
    // The source file is ours from here on and goes at the end, whatever happens.
    struct RemoveSource {
        const std::string& path;
        ~RemoveSource() { DeleteFileA(path.c_str()); }
    } removeSource{source};

    std::string name = Format("%d_%s.zip", static_cast<int>(GetCurrentThreadId()),
                              app.MakeUniqueName().c_str());
    std::string result = app.GetTempDirectory() + name;
    if (ZipFile(source, name, app.GetTempDirectory()) != -1) {
        m_saCreatedFiles.push_back(result);
    } else {
        tarnwick::ShowMessageBox(msg::memfile::kZipFailedBox);
        result.clear();
    }
    return result;
}
