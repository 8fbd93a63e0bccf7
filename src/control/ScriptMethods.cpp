// The thirteen script methods. Each calls the services and decides, here and only here, when the
// page's last-error text is set, emptied or left standing.
#include "TarnwickCtrl.h"
#include "archive/FileProbe.h"
#include "archive/ZipLibrary.h"
#include "digest/CryptoEngine.h"
#include "digest/FileDigest.h"
#include "fileservices/FileChecks.h"
#include "fileservices/TempArea.h"
#include "framework/MessageBox.h"
#include "framework/Strings.h"
#include "CodePage.h"
#include "Owners.h"
#include "framework/Render.h"
#include "SystemError.h"
#include "memfile/MemFiles.h"
#include "memfile/ScriptArray.h"
#include "Messages.h"
#include "resource.h"
#include "Paths.h"
#include "hashclass.h"

using tarnwick::Decimal;
using tarnwick::Render;
using tarnwick::SystemErrorText;
using tarnwick::SystemErrorTextWithCode;
namespace files = tarnwick::files;
namespace archive = tarnwick::archive;
namespace engine = tarnwick::engine;
namespace hashing = tarnwick::hashing;
namespace memfile = tarnwick::memfile;

namespace {

// The size query always empties the text first and names the system's reason when the plain
// open failed.
std::wstring SizeText(const files::SizeQuery& query) {
    return query.openFailed ? SystemErrorTextWithCode(query.code) : std::wstring();
}

// The text after a pack request; false when no archive was made.
bool RenderPack(const std::wstring& source, const archive::ZipOutcome& outcome, std::wstring& text) {
    text = SizeText(outcome.size);
    switch (outcome.status) {
    case archive::ZipStatus::Done: return true;
    case archive::ZipStatus::LoadFailed: text = SystemErrorText(outcome.code); break;
    case archive::ZipStatus::ExportMissing: text = Render(msg::kZipExportMissing); break;
    case archive::ZipStatus::TooSmall:
        // A size that could not be read keeps the system's reason.
        if (!outcome.size.openFailed)
            text = Render(msg::kZipTooSmall, {source, Decimal(static_cast<long long>(outcome.size.fullSize))});
        break;
    case archive::ZipStatus::Failed:
        text = Render(msg::kZipFailed, {source, SystemErrorTextWithCode(outcome.code)});
        break;
    }
    return false;
}

void RenderUnpack(const archive::ZipOutcome& outcome, std::wstring& text) {
    text = SizeText(outcome.size);
    switch (outcome.status) {
    case archive::ZipStatus::LoadFailed: text = SystemErrorText(outcome.code); break;
    case archive::ZipStatus::ExportMissing: text = Render(msg::kUnzipExportMissing); break;
    case archive::ZipStatus::Failed:
        text = Render(msg::kUnzipFailed, {SystemErrorText(outcome.code)});
        break;
    case archive::ZipStatus::Done:
    case archive::ZipStatus::TooSmall: break;
    }
}

// The engine takes its certificate as narrow text (base64 is ASCII).
std::string Narrow(const std::wstring& text) { return tarnwick::FromWide(CP_ACP, text.c_str()); }

}  // namespace

std::wstring CTarnwickCtrl::ArrayReadText(const memfile::ArrayRead& read) {
    const std::wstring index = Decimal(static_cast<int>(read.index));
    switch (read.fault) {
    case memfile::ArrayFault::None: break;
    case memfile::ArrayFault::Unsupported:
        return Render(msg::memfile::kArrayUnsupported, {Decimal(read.dims), Decimal(read.type)});
    case memfile::ArrayFault::NullObject: return Render(msg::memfile::kAttrObjectNull);
    case memfile::ArrayFault::NullElements: return Render(msg::memfile::kElementObjectNull);
    case memfile::ArrayFault::PropertyName: return Render(msg::memfile::kAttrLookupFailed, {read.name});
    case memfile::ArrayFault::PropertyGet: return Render(msg::memfile::kAttrGetFailed, {read.name});
    case memfile::ArrayFault::ElementName: return Render(msg::memfile::kElementLookupFailed, {index});
    case memfile::ArrayFault::ElementGet: return Render(msg::memfile::kElementGetFailed, {index});
    }
    return std::wstring();
}

// ---- shared steps ----

bool CTarnwickCtrl::CheckPath(const std::wstring& path) {
    if (!MayUseNetworkPath(path)) return false;  // before any file-system call touches it
    const files::PathCheck check = files::CheckPath(path);
    switch (check.status) {
    case files::PathStatus::Ok:
        return true;
    case files::PathStatus::Empty: {
        std::wstring text = tarnwick::LoadModuleString(IDS_PATH_EMPTY);
        if (!text.empty())
            m_strLastError = text;
        else
            m_strLastError = Render(msg::kPathEmptyNoResource, {SystemErrorText(GetLastError())});
        return false;
    }
    case files::PathStatus::NotFound: {
        std::wstring text = tarnwick::LoadModuleString(IDS_FILE_NOT_FOUND);
        if (!text.empty())
            m_strLastError = Render(msg::kFileNotFoundFormat, {path, text});
        else
            m_strLastError = Render(msg::kFileNotFoundNoResource, {SystemErrorText(GetLastError())});
        return false;
    }
    case files::PathStatus::NotADisk:
        m_strLastError = Render(msg::kNotADiskFile, {path});
        return false;
    case files::PathStatus::Failed:
        m_strLastError = SystemErrorText(check.code);
        return false;
    }
    return false;
}

bool CTarnwickCtrl::ReadMemoryFile(const memfile::MemorySource& source, memfile::MemoryBytes& bytes) {
    memfile::ArrayRead read;
    if (memfile::ReadMemoryFile(source, bytes, read)) return true;
    if (!read.ok()) m_strLastError = ArrayReadText(read);  // an empty file leaves the text alone
    return false;
}

bool CTarnwickCtrl::EnsureEngine() {
    const engine::LoadOutcome outcome = engine::EnsureLoaded();
    switch (outcome.status) {
    case engine::LoadStatus::Ok: return true;
    case engine::LoadStatus::LoadFailed: m_strLastError = Render(msg::kEngineLoadFailed, {outcome.path}); break;
    case engine::LoadStatus::EntryMissing: m_strLastError = Render(msg::kEngineEntryMissing); break;
    case engine::LoadStatus::InitFailed: m_strLastError = Render(msg::kEngineInitFailed); break;
    }
    return false;
}

bool CTarnwickCtrl::TempDirectory(std::wstring& directory) {
    if (files::TempDirectory(directory)) return true;
    m_strLastError = Render(msg::kNoTempDirectory);
    return false;
}

std::wstring CTarnwickCtrl::PackIntoArchive(const std::wstring& source, const wchar_t* failureBox) {
    std::wstring directory;
    if (!TempDirectory(directory)) return std::wstring();
    const std::wstring name =
        Decimal(static_cast<int>(GetCurrentThreadId())) + L"_" + files::MakeUniqueName() + L".zip";
    if (!RenderPack(source, archive::PackFile(source, name, directory), m_strLastError)) {
        tarnwick::ShowMessageBox(failureBox);
        return std::wstring();
    }
    m_saCreatedFiles.push_back(directory + name);
    return directory + name;
}

// A memory file's bytes into a new file in the temporary directory; failureFormat takes the
// system's reason when the write fails.
bool CTarnwickCtrl::WriteTempFile(const std::wstring& path, const unsigned char* data, size_t size,
                                  const wchar_t* failureFormat) {
    const memfile::WriteOutcome written = memfile::WriteNewFile(path, data, size);
    switch (written.status) {
    case memfile::WriteStatus::Written: return true;
    case memfile::WriteStatus::Exists: m_strLastError = Render(msg::memfile::kFileInTheWay, {path}); break;
    case memfile::WriteStatus::Failed:
        m_strLastError = Render(failureFormat, {SystemErrorTextWithCode(written.code)});
        break;
    }
    return false;
}

// Probes a local file (the path as the page gave it) and renders the outcome.
std::wstring CTarnwickCtrl::ProbePath(const std::wstring& strFilePath) {
    const std::wstring path = tarnwick::LowerAscii(strFilePath);
    if (!CheckPath(path)) return std::wstring();
    const archive::ProbeOutcome outcome = archive::ProbeFile(path);
    if (outcome.unpacked) RenderUnpack(outcome.unpack, m_strLastError);
    switch (outcome.status) {
    case archive::ProbeStatus::Done: break;
    case archive::ProbeStatus::NoTempDirectory: m_strLastError = Render(msg::kNoTempDirectory); break;
    case archive::ProbeStatus::OpenFailed:
    case archive::ProbeStatus::Failed: m_strLastError = SystemErrorText(outcome.code); break;
    }
    return std::wstring(outcome.result.begin(), outcome.result.end());
}

// Writes the bytes to a new probe file in the temporary directory, probes it as a local file and
// removes it again, whatever happens. The file type is already checked.
std::wstring CTarnwickCtrl::ProbeBytes(const unsigned char* data, size_t size, const std::wstring& type) {
    std::wstring directory;
    if (!TempDirectory(directory)) return std::wstring();
    const std::wstring path = directory + Decimal(static_cast<int>(GetTickCount())) + L"_" +
                              Decimal(static_cast<int>(GetCurrentThreadId())) + L"_" +
                              files::MakeUniqueName() + L"." + type;
    if (!files::IsInTempDirectory(path)) {
        m_strLastError = Render(msg::memfile::kBadFileType, {type});
        return std::wstring();
    }
    if (!WriteTempFile(path, data, size, msg::memfile::kProbeWriteFailed)) return std::wstring();
    const tarnwick::TemporaryFile probeFile(path);
    return ProbePath(path);
}

std::wstring CTarnwickCtrl::RenderSm3(const engine::Sm3Outcome& outcome) {
    switch (outcome.status) {
    case engine::Sm3Status::Done: return std::wstring(outcome.hex.begin(), outcome.hex.end());
    case engine::Sm3Status::NotLoaded: m_strLastError = Render(msg::kEngineNotInstalled); break;
    case engine::Sm3Status::Failed:
        m_strLastError = Render(msg::kSm3Failed, {msg::EngineStatusText(outcome.code),
                                                  tarnwick::Hex4(static_cast<unsigned>(outcome.code))});
        break;
    }
    return std::wstring();
}

int CTarnwickCtrl::FindCreatedFile(const std::wstring& path) {
    for (size_t i = 0; i < m_saCreatedFiles.size(); ++i) {
        if (m_saCreatedFiles[i] == path) return static_cast<int>(i);
    }
    return -1;
}

// ---- the methods, by dispatch id ----

long CTarnwickCtrl::GetLocalFileSize(const std::wstring& path) {  // 1
    if (!CheckPath(path)) return -1;
    const files::SizeQuery query = files::QueryFileSize(path);
    m_strLastError = SizeText(query);
    return query.size;
}

std::wstring CTarnwickCtrl::GetLocalFileHeadSigned(const std::wstring& strFilePath) {  // 2
    return ProbePath(strFilePath);
}

std::wstring CTarnwickCtrl::CreateZipFromLocalFile(const std::wstring& source) {  // 3
    if (!CheckPath(source)) return std::wstring();
    return PackIntoArchive(source, msg::kZipBox);
}

long CTarnwickCtrl::DeleteFileFromCreateZip(const std::wstring& path) {  // 4
    if (FindCreatedFile(path) < 0) {
        m_strLastError = Render(msg::kNotCreatedHere, {path});
        return -1;
    }
    const DWORD code = files::DeleteCreatedFile(path);
    if (code == ERROR_SUCCESS) return 0;
    m_strLastError = SystemErrorText(code);
    return 1;
}

std::wstring CTarnwickCtrl::GetLocalFileSHA256(const std::wstring& path) {  // 5
    if (!CheckPath(path)) return std::wstring();
    const hashing::FileDigest digest = hashing::DigestOfFile(::digest::HashKind("sha256"), path);
    const std::wstring reason = SystemErrorTextWithCode(digest.code);
    switch (digest.status) {
    case hashing::FileDigestStatus::Done: return std::wstring(digest.hex.begin(), digest.hex.end());
    case hashing::FileDigestStatus::OpenFailed: m_strLastError = Render(msg::kOpenFailed, {path, reason}); break;
    case hashing::FileDigestStatus::SizeFailed: m_strLastError = Render(msg::kSizeFailed, {path, reason}); break;
    case hashing::FileDigestStatus::Empty: m_strLastError = Render(msg::kSizeZero, {path}); break;
    case hashing::FileDigestStatus::NoMemory: m_strLastError = Render(msg::kNoMemory, {reason}); break;
    case hashing::FileDigestStatus::ReadFailed:
        m_strLastError = Render(msg::kReadFailed, {path, Decimal(static_cast<long long>(digest.done)),
                                                   Decimal(static_cast<long long>(digest.size)), reason});
        break;
    }
    return std::wstring();
}

std::wstring CTarnwickCtrl::GetLocalFileSM3(const std::wstring& path, long nWithZValue,
                                            const std::wstring& strBase64Cert) {  // 6
    if (!CheckPath(path) || !EnsureEngine()) return std::wstring();
    return RenderSm3(engine::HashFile(path, nWithZValue, Narrow(strBase64Cert)));
}

std::wstring CTarnwickCtrl::GetLastErrorInfo() { return m_strLastError; }  // 7

std::wstring CTarnwickCtrl::GetMemFileHeadSigned(const Memory& lpIDisp, const std::wstring& strFileType) {  // 8
    const std::wstring type = memfile::FileTypeWithoutCommas(strFileType);
    if (!memfile::IsUsableFileType(type)) {
        m_strLastError = Render(msg::memfile::kBadFileType, {type});
        return std::wstring();
    }
    memfile::MemoryBytes bytes;
    if (!ReadMemoryFile(lpIDisp, bytes)) return std::wstring();
    return ProbeBytes(bytes.data(), bytes.size(), type);
}

std::wstring CTarnwickCtrl::GetMemFileSM3(const Memory& lpIDisp, long nWithZValue,
                                          const std::wstring& strBase64Cert) {  // 9
    memfile::MemoryBytes bytes;
    if (!ReadMemoryFile(lpIDisp, bytes) || !EnsureEngine()) return std::wstring();
    return RenderSm3(engine::HashData(bytes.data(), static_cast<DWORD>(bytes.size()), nWithZValue,
                                      Narrow(strBase64Cert)));
}

long CTarnwickCtrl::GetMemFileSize(const Memory& lpIDisp) {  // 10
    long length = -1;
    const memfile::ArrayRead read = memfile::ReadLength(lpIDisp, length);
    if (!read.ok()) {
        m_strLastError = ArrayReadText(read);
        return -1;
    }
    return length;
}

// Text without data gives the empty result without a message, as does a block that cannot be
// allocated; text that is not wholly base64 is refused with a message.
std::wstring CTarnwickCtrl::GetMemMD5FileHeadSigned(const std::wstring& strFileInfo,
                                                    const std::wstring& strFileType) {  // 11
    const std::wstring type = memfile::FileTypeWithoutCommas(strFileType);
    if (!memfile::IsUsableFileType(type)) {
        m_strLastError = Render(msg::memfile::kBadFileType, {type});
        return std::wstring();
    }
    std::vector<unsigned char> bytes;
    switch (memfile::DecodeBase64(Narrow(strFileInfo), bytes)) {
    case memfile::Base64Status::Decoded: break;
    case memfile::Base64Status::Empty: return std::wstring();
    case memfile::Base64Status::Invalid:
        m_strLastError = Render(msg::memfile::kBadBase64);
        return std::wstring();
    }
    return ProbeBytes(bytes.data(), bytes.size(), type);
}

std::wstring CTarnwickCtrl::GetMemFileSHA256(const Memory& lpIDisp) {  // 12
    memfile::MemoryBytes bytes;
    if (!ReadMemoryFile(lpIDisp, bytes)) return std::wstring();
    const std::string hex = hashing::DigestOfBytes(::digest::HashKind("sha256"), bytes.data(), bytes.size());
    return std::wstring(hex.begin(), hex.end());
}

std::wstring CTarnwickCtrl::CreateZipFromMemFile(const Memory& lpIDisp, const std::wstring& fileName) {  // 13
    std::wstring directory;
    if (!TempDirectory(directory)) return std::wstring();
    const std::wstring source = directory + fileName;
    if (!fileName.empty() && (!memfile::IsPlainName(fileName) || !files::IsInTempDirectory(source))) {
        m_strLastError = Render(msg::memfile::kBadFileName, {fileName});
        return std::wstring();
    }
    memfile::MemoryBytes bytes;
    if (!ReadMemoryFile(lpIDisp, bytes)) return std::wstring();

    if (fileName.empty()) {
        // The name leaves nothing after the directory: that is the temporary directory itself,
        // which an open for writing refuses with access denied. Nothing is touched.
        m_strLastError = Render(msg::memfile::kZipWriteFailed, {SystemErrorTextWithCode(ERROR_ACCESS_DENIED)});
        return std::wstring();
    }
    if (!WriteTempFile(source, bytes.data(), bytes.size(), msg::memfile::kZipWriteFailed)) return std::wstring();
    // The source file is ours from here on and goes at the end, whatever happens.
    const tarnwick::TemporaryFile sourceFile(source);
    return PackIntoArchive(source, msg::memfile::kZipFailedBox);
}
