// Memory files on disk: the probe and the zip library work on files, so a memory file's bytes
// go to a new file in the temporary directory first, which is removed again before the method
// returns.
//
// Where a page-given text becomes part of a path:
//  - the zip source file's name and the probe file's type (after its commas are removed) must be
//    a plain file name or extension: no path separators, no drive or other ':', no "..", no
//    character Windows refuses in a name, no trailing dot or blank (Windows would drop them and
//    name another file), and not a device name (CON, NUL, COM1 ...). The final path must also lie
//    in the temporary directory.
//  - a temporary file is always created new: a file already standing under that name is never
//    replaced or deleted.
//  - a temporary file that cannot be written completely is removed again.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace tarnwick::memfile {

// A name Windows takes as one plain entry of the directory it is appended to.
bool IsPlainName(const std::wstring& name);

// The probe file's type: commas removed; empty or a plain name.
std::wstring FileTypeWithoutCommas(const std::wstring& text);
bool IsUsableFileType(const std::wstring& type);

enum class WriteStatus { Written, Exists, Failed };
struct WriteOutcome {
    WriteStatus status = WriteStatus::Written;
    DWORD code = 0;  // the system's reason for Failed
};

// Writes bytes to a file that must not exist yet. On a failed or short write the file is removed
// again (through its own handle, so nothing that took its name meanwhile is touched).
WriteOutcome WriteNewFile(const std::wstring& path, const unsigned char* data, size_t size);

// Decodes base64 text, strictly: text that is not wholly base64 is Invalid, never decoded in part.
// Text without data (or a block too large to hold) is Empty.
enum class Base64Status { Decoded, Empty, Invalid };
Base64Status DecodeBase64(const std::string& text, std::vector<unsigned char>& bytes);

}  // namespace tarnwick::memfile
