// The thirteen script methods. Each calls the services and decides, here and only here, when the
// page's last-error text is set, emptied or left standing.
#include "TarnwickCtrl.h"
#include "CSHA256.h"
#include "archive/FileProbe.h"
#include "archive/Messages.h"
#include "archive/ZipLibrary.h"
#include "digest/CryptoEngine.h"
#include "digest/FileDigest.h"
#include "digest/Messages.h"
#include "fileservices/FileChecks.h"
#include "fileservices/Messages.h"
#include "fileservices/TempArea.h"
#include "framework/MessageBox.h"
#include "framework/NarrowString.h"
#include "framework/Owners.h"
#include "framework/SystemError.h"
#include "memfile/MemFiles.h"
#include "memfile/Messages.h"
#include "memfile/ScriptArray.h"
#include "ovalon/ovalon.h"
#include "resource.h"

using tarnwick::Format;
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
std::string SizeText(const files::SizeQuery& query) {
    return query.openFailed ? SystemErrorTextWithCode(query.code) : std::string();
}

// The text after a pack request; false when no archive was made.
bool RenderPack(const std::string& source, const archive::ZipOutcome& outcome, std::string& text) {
    text = SizeText(outcome.size);
    switch (outcome.status) {
    case archive::ZipStatus::Done: return true;
    case archive::ZipStatus::LoadFailed: text = SystemErrorText(outcome.code); break;
    case archive::ZipStatus::ExportMissing: text = msg::kZipExportMissing; break;
    case archive::ZipStatus::TooSmall:
        // A size that could not be read keeps the system's reason.
        if (!outcome.size.openFailed)
            text = Format(msg::kZipTooSmall, source.c_str(), static_cast<unsigned long>(outcome.size.fullSize));
        break;
    case archive::ZipStatus::Failed:
        text = Format(msg::kZipFailed, source.c_str(), SystemErrorTextWithCode(outcome.code).c_str());
        break;
    }
    return false;
}

// What the crypto engine's status says, for the page.
const char* EngineStatusText(int status) {
    switch (status) {
    case OVALON_E_INVALID_ARG: return msg::kSm3InvalidArgument;
    case OVALON_E_NOT_INITIALIZED: return msg::kSm3NotInitialized;
    case OVALON_E_INIT_FAILED: return msg::kSm3InitFailed;
    case OVALON_E_OUT_OF_MEMORY: return msg::kSm3OutOfMemory;
    case OVALON_E_CRYPTO: return msg::kSm3CryptoFailed;
    case OVALON_E_NO_CERTIFICATE: return msg::kSm3NoCertificate;
    case OVALON_E_BAD_BASE64: return msg::kSm3BadBase64;
    case OVALON_E_BAD_CERTIFICATE: return msg::kSm3BadCertificate;
    case OVALON_E_NOT_SM2_KEY: return msg::kSm3NotSm2Key;
    case OVALON_E_BAD_PUBLIC_KEY: return msg::kSm3BadPublicKey;
    case OVALON_E_FILE_OPEN: return msg::kSm3FileOpen;
    case OVALON_E_FILE_READ: return msg::kSm3FileRead;
    case OVALON_E_NOT_SUPPORTED: return msg::kSm3NotSupported;
    default: return msg::kSm3Unknown;
    }
}

void RenderUnpack(const archive::ZipOutcome& outcome, std::string& text) {
    text = SizeText(outcome.size);
    switch (outcome.status) {
    case archive::ZipStatus::LoadFailed: text = SystemErrorText(outcome.code); break;
    case archive::ZipStatus::ExportMissing: text = msg::kUnzipExportMissing; break;
    case archive::ZipStatus::Failed:
        text = Format(msg::kUnzipFailed, SystemErrorText(outcome.code).c_str());
        break;
    case archive::ZipStatus::Done:
    case archive::ZipStatus::TooSmall: break;
    }
}

std::string Text(LPCSTR text) { return text ? text : ""; }

}  // namespace

std::string CTarnwickCtrl::ArrayReadText(const memfile::ArrayRead& read) {
    const std::string name = tarnwick::WideToAnsi(read.name.c_str());
    const int index = static_cast<int>(read.index);
    switch (read.fault) {
    case memfile::ArrayFault::None: break;
    case memfile::ArrayFault::Unsupported: return Format(msg::memfile::kArrayUnsupported, read.dims, static_cast<unsigned>(read.type));
    case memfile::ArrayFault::NullObject: return msg::memfile::kAttrObjectNull;
    case memfile::ArrayFault::NullElements: return msg::memfile::kElementObjectNull;
    case memfile::ArrayFault::PropertyName: return Format(msg::memfile::kAttrLookupFailed, name.c_str());
    case memfile::ArrayFault::PropertyGet: return Format(msg::memfile::kAttrGetFailed, name.c_str());
    case memfile::ArrayFault::ElementName: return Format(msg::memfile::kElementLookupFailed, index);
    case memfile::ArrayFault::ElementGet: return Format(msg::memfile::kElementGetFailed, index);
    }
    return std::string();
}

// ---- shared steps ----

bool CTarnwickCtrl::CheckPath(const std::string& path) {
    if (!MayUseNetworkPath(path)) return false;  // before any file-system call touches it
    const files::PathCheck check = files::CheckPath(path);
    switch (check.status) {
    case files::PathStatus::Ok:
        return true;
    case files::PathStatus::Empty: {
        std::string text = tarnwick::LoadModuleString(IDS_PATH_EMPTY);
        if (!text.empty())
            m_strLastError = Format("%s", text.c_str());
        else
            m_strLastError = Format(msg::kPathEmptyNoResource, SystemErrorText(GetLastError()).c_str());
        return false;
    }
    case files::PathStatus::NotFound: {
        std::string text = tarnwick::LoadModuleString(IDS_FILE_NOT_FOUND);
        if (!text.empty())
            m_strLastError = Format(msg::kFileNotFoundFormat, path.c_str(), text.c_str());
        else
            m_strLastError = Format(msg::kFileNotFoundNoResource, SystemErrorText(GetLastError()).c_str());
        return false;
    }
    case files::PathStatus::NotADisk:
        m_strLastError = Format(msg::kNotADiskFile, path.c_str());
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
    case engine::LoadStatus::LoadFailed:
        m_strLastError = Format(msg::kEngineLoadFailed, outcome.path.c_str());
        break;
    case engine::LoadStatus::EntryMissing: m_strLastError = msg::kEngineEntryMissing; break;
    case engine::LoadStatus::InitFailed: m_strLastError = msg::kEngineInitFailed; break;
    }
    return false;
}

bool CTarnwickCtrl::TempDirectory(std::string& directory) {
    if (files::TempDirectory(directory)) return true;
    m_strLastError = msg::kNoTempDirectory;
    return false;
}

std::string CTarnwickCtrl::PackIntoArchive(const std::string& source, const char* failureBox) {
    std::string directory;
    if (!TempDirectory(directory)) return std::string();
    const std::string name = Format("%d_%s.zip", static_cast<int>(GetCurrentThreadId()),
                                    files::MakeUniqueName().c_str());
    if (!RenderPack(source, archive::PackFile(source, name, directory), m_strLastError)) {
        tarnwick::ShowMessageBox(failureBox);
        return std::string();
    }
    m_saCreatedFiles.push_back(directory + name);
    return directory + name;
}

// A memory file's bytes into a new file in the temporary directory; failureFormat takes the
// system's reason when the write fails.
bool CTarnwickCtrl::WriteTempFile(const std::string& path, const unsigned char* data, size_t size,
                                  const char* failureFormat) {
    const memfile::WriteOutcome written = memfile::WriteNewFile(path, data, size);
    switch (written.status) {
    case memfile::WriteStatus::Written: return true;
    case memfile::WriteStatus::Exists:
        m_strLastError = Format(msg::memfile::kFileInTheWay, path.c_str());
        break;
    case memfile::WriteStatus::Failed:
        m_strLastError = Format(failureFormat, SystemErrorTextWithCode(written.code).c_str());
        break;
    }
    return false;
}

// Writes the bytes to a new probe file in the temporary directory, probes it as a local file and
// removes it again. The file type is already checked.
std::string CTarnwickCtrl::ProbeBytes(const unsigned char* data, size_t size, const std::string& type) {
    std::string directory;
    if (!TempDirectory(directory)) return std::string();
    const std::string path =
        directory + Format("%d_%d_%s.%s", static_cast<int>(GetTickCount()),
                                        static_cast<int>(GetCurrentThreadId()),
                                        files::MakeUniqueName().c_str(), type.c_str());
    if (!files::IsInTempDirectory(path)) {
        m_strLastError = Format(msg::memfile::kBadFileType, type.c_str());
        return std::string();
    }
    if (!WriteTempFile(path, data, size, msg::memfile::kProbeWriteFailed)) return std::string();
    std::string result = GetLocalFileHeadSigned(path.c_str());
    DeleteFileA(path.c_str());
    return result;
}

std::string CTarnwickCtrl::RenderSm3(const engine::Sm3Outcome& outcome) {
    if (!outcome.loaded) {
        m_strLastError = msg::kEngineNotInstalled;
        return std::string();
    }
    if (outcome.status != OVALON_OK || outcome.hex.empty()) {
        m_strLastError = Format(msg::kSm3Failed, EngineStatusText(outcome.status),
                                static_cast<unsigned>(outcome.status));
        return std::string();
    }
    return outcome.hex;
}

int CTarnwickCtrl::FindCreatedFile(const std::string& path) {
    for (size_t i = 0; i < m_saCreatedFiles.size(); ++i) {
        if (m_saCreatedFiles[i] == path) return static_cast<int>(i);
    }
    return -1;
}

// ---- the methods, by dispatch id ----

long CTarnwickCtrl::GetLocalFileSize(LPCSTR strFilePath) {  // 1
    const std::string path = Text(strFilePath);
    if (!CheckPath(path)) return -1;
    const files::SizeQuery query = files::QueryFileSize(path);
    m_strLastError = SizeText(query);
    return query.size;
}

std::string CTarnwickCtrl::GetLocalFileHeadSigned(LPCSTR strFilePath) {  // 2
    const std::string path = tarnwick::MakeLower(Text(strFilePath));
    if (!CheckPath(path)) return std::string();
    const archive::ProbeOutcome outcome = archive::ProbeFile(path);
    if (outcome.unpacked) RenderUnpack(outcome.unpack, m_strLastError);
    switch (outcome.status) {
    case archive::ProbeStatus::Done: break;
    case archive::ProbeStatus::NoTempDirectory: m_strLastError = msg::kNoTempDirectory; break;
    case archive::ProbeStatus::OpenFailed:
    case archive::ProbeStatus::Failed: m_strLastError = SystemErrorText(outcome.code); break;
    }
    return outcome.result;
}

std::string CTarnwickCtrl::CreateZipFromLocalFile(LPCSTR strFilePath) {  // 3
    const std::string source = Text(strFilePath);
    if (!CheckPath(source)) return std::string();
    return PackIntoArchive(source, msg::kZipBox);
}

long CTarnwickCtrl::DeleteFileFromCreateZip(LPCSTR strFilePath) {  // 4
    const std::string path = Text(strFilePath);
    if (FindCreatedFile(path) < 0) {
        m_strLastError = Format(msg::kNotCreatedHere, path.c_str());
        return -1;
    }
    if (DeleteFileA(path.c_str())) return 0;
    m_strLastError = SystemErrorText(GetLastError());
    return 1;
}

std::string CTarnwickCtrl::GetLocalFileSHA256(LPCSTR strFilePath) {  // 5
    const std::string path = Text(strFilePath);
    if (!CheckPath(path)) return std::string();
    const hashing::FileDigest digest = hashing::Sha256OfFile(path);
    const std::string reason = SystemErrorTextWithCode(digest.code);
    switch (digest.status) {
    case hashing::FileDigestStatus::Done: return digest.hex;
    case hashing::FileDigestStatus::OpenFailed:
        m_strLastError = Format(msg::kOpenFailed, path.c_str(), reason.c_str());
        break;
    case hashing::FileDigestStatus::SizeFailed:
        m_strLastError = Format(msg::kSizeFailed, path.c_str(), reason.c_str());
        break;
    case hashing::FileDigestStatus::Empty: m_strLastError = Format(msg::kSizeZero, path.c_str()); break;
    case hashing::FileDigestStatus::NoMemory: m_strLastError = Format(msg::kNoMemory, reason.c_str()); break;
    case hashing::FileDigestStatus::ReadFailed:
        m_strLastError = Format(msg::kReadFailed, path.c_str(), static_cast<long long>(digest.done),
                                static_cast<long long>(digest.size), reason.c_str());
        break;
    }
    return std::string();
}

std::string CTarnwickCtrl::GetLocalFileSM3(LPCSTR strFilePath, long nWithZValue,
                                           LPCSTR strBase64Cert) {  // 6
    const std::string path = Text(strFilePath);
    if (!CheckPath(path) || !EnsureEngine()) return std::string();
    return RenderSm3(engine::HashFile(path, nWithZValue, Text(strBase64Cert)));
}

std::string CTarnwickCtrl::GetLastErrorInfo() { return m_strLastError; }  // 7

std::string CTarnwickCtrl::GetMemFileHeadSigned(const memfile::MemorySource& lpIDisp, LPCSTR strFileType) {  // 8
    const std::string type = memfile::FileTypeWithoutCommas(Text(strFileType));
    if (!memfile::IsUsableFileType(type)) {
        m_strLastError = Format(msg::memfile::kBadFileType, type.c_str());
        return std::string();
    }
    memfile::MemoryBytes bytes;
    if (!ReadMemoryFile(lpIDisp, bytes)) return std::string();
    return ProbeBytes(bytes.data(), bytes.size(), type);
}

std::string CTarnwickCtrl::GetMemFileSM3(const memfile::MemorySource& lpIDisp, long nWithZValue,
                                         LPCSTR strBase64Cert) {  // 9
    memfile::MemoryBytes bytes;
    if (!ReadMemoryFile(lpIDisp, bytes) || !EnsureEngine()) return std::string();
    return RenderSm3(engine::HashData(bytes.data(), static_cast<DWORD>(bytes.size()), nWithZValue,
                                      Text(strBase64Cert)));
}

long CTarnwickCtrl::GetMemFileSize(const memfile::MemorySource& lpIDisp) {  // 10
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
std::string CTarnwickCtrl::GetMemMD5FileHeadSigned(LPCSTR strFileInfo, LPCSTR strFileType) {  // 11
    const std::string type = memfile::FileTypeWithoutCommas(Text(strFileType));
    if (!memfile::IsUsableFileType(type)) {
        m_strLastError = Format(msg::memfile::kBadFileType, type.c_str());
        return std::string();
    }
    std::vector<unsigned char> bytes;
    switch (memfile::DecodeBase64(Text(strFileInfo), bytes)) {
    case memfile::Base64Status::Decoded: break;
    case memfile::Base64Status::Empty: return std::string();
    case memfile::Base64Status::Invalid:
        m_strLastError = msg::memfile::kBadBase64;
        return std::string();
    }
    return ProbeBytes(bytes.data(), bytes.size(), type);
}

std::string CTarnwickCtrl::GetMemFileSHA256(const memfile::MemorySource& lpIDisp) {  // 12
    memfile::MemoryBytes bytes;
    if (!ReadMemoryFile(lpIDisp, bytes)) return std::string();
    char text[CSHA256::kHexLength + 1] = {};
    CSHA256().HashToHex(text, bytes.data(), static_cast<unsigned int>(bytes.size()));
    return text;
}

std::string CTarnwickCtrl::CreateZipFromMemFile(const memfile::MemorySource& lpIDisp, LPCSTR strFileName) {  // 13
    const std::string fileName = Text(strFileName);
    std::string directory;
    if (!TempDirectory(directory)) return std::string();
    const std::string source = directory + fileName;
    if (!fileName.empty() && (!memfile::IsPlainName(fileName) || !files::IsInTempDirectory(source))) {
        m_strLastError = Format(msg::memfile::kBadFileName, fileName.c_str());
        return std::string();
    }
    memfile::MemoryBytes bytes;
    if (!ReadMemoryFile(lpIDisp, bytes)) return std::string();

    if (fileName.empty()) {
        // The name leaves nothing after the directory: that is the temporary directory itself,
        // which an open for writing refuses with access denied. Nothing is touched.
        m_strLastError =
            Format(msg::memfile::kZipWriteFailed, SystemErrorTextWithCode(ERROR_ACCESS_DENIED).c_str());
        return std::string();
    }
    if (!WriteTempFile(source, bytes.data(), bytes.size(), msg::memfile::kZipWriteFailed)) return std::string();
    // The source file is ours from here on and goes at the end, whatever happens.
    tarnwick::ScopeExit removeSource([&] { DeleteFileA(source.c_str()); });
    return PackIntoArchive(source, msg::memfile::kZipFailedBox);
}
