#include "memfile/MemFiles.h"
#include "framework/Strings.h"
#include "Owners.h"
#include "names.h"
#include "base64.h"
#include "Paths.h"
#include <algorithm>
#include <new>

namespace tarnwick::memfile {

bool IsPlainName(const std::wstring& name) { return names::IsPlainName(std::u16string(name.begin(), name.end())); }

std::wstring FileTypeWithoutCommas(const std::wstring& text) {
    std::wstring type = text;
    type.erase(std::remove(type.begin(), type.end(), L','), type.end());
    return type;
}

// The extension of a probe file may be empty (the name then ends in its dot, which the system
// drops); otherwise it must be a plain name.
bool IsUsableFileType(const std::wstring& type) { return type.empty() || IsPlainName(type); }

WriteOutcome WriteNewFile(const std::wstring& path, const unsigned char* data, size_t size) {
    WriteOutcome outcome;
    UniqueFile file(CreateFileW(ForFileCalls(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD code = GetLastError();
        outcome.status = (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
                             ? WriteStatus::Exists
                             : WriteStatus::Failed;
        outcome.code = code;
        return outcome;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr);
    if (ok && written == size) return outcome;
    outcome.status = WriteStatus::Failed;
    outcome.code = ok ? ERROR_WRITE_FAULT : GetLastError();  // a short write has no error of its own
    FILE_DISPOSITION_INFO dispose = {TRUE};
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof(dispose))) {
        file.reset();
        DeleteFileW(ForFileCalls(path).c_str());
    }
    return outcome;
}

Base64Status DecodeBase64(const std::string& text, std::vector<unsigned char>& bytes) {
    try {
        if (!base64::Decode(text, bytes)) return Base64Status::Invalid;
    } catch (const std::bad_alloc&) {
        std::vector<unsigned char>().swap(bytes);
        return Base64Status::Empty;
    }
    return bytes.empty() ? Base64Status::Empty : Base64Status::Decoded;
}

}  // namespace tarnwick::memfile
