// File services the scripts cannot reach: temporary names and directories, the tree removal
// and its guard, the texts used when the string resources are missing, and the zip binding
// without its library.
#include <gtest/gtest.h>
#include <windows.h>
#include <process.h>
#include <string>
#include "TarnwickCtrl.h"
#include "archive/ZipLibrary.h"
#include "fileservices/FileChecks.h"
#include "fileservices/TempArea.h"
#include "framework/ModuleState.h"
#include "hex.h"
#include "unit_support.h"

namespace {

using testsupport::Exists;
using testsupport::TempPath;
using testsupport::WriteFileBytes;

// Makes the module instance a DLL copied into a directory of the test's choosing, so that the
// module directory (where the companions are looked for) is that directory.
class ModuleIn {
public:
    explicit ModuleIn(const std::string& directory) {
        CreateDirectoryA(directory.c_str(), nullptr);
        path_ = directory + "\\anchor.dll";
        CopyFileA((testsupport::ExeDirectory() + testsupport::kEngineFile).c_str(), path_.c_str(), FALSE);
        handle_ = LoadLibraryA(path_.c_str());
        tarnwick::SetModuleInstance(handle_);
    }
    ~ModuleIn() {
        tarnwick::SetModuleInstance(nullptr);
        if (handle_) FreeLibrary(handle_);
    }
    bool ok() const { return handle_ != nullptr; }
private:
    std::string path_;
    HMODULE handle_ = nullptr;
};

namespace files = tarnwick::files;

// The suite's paths are ASCII: plain widening and narrowing.
std::wstring W(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string N(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(TempNames, ByteToHexIsTwoUpperCaseDigits) {
    EXPECT_EQ("00", hex::Upper(0));
    EXPECT_EQ("0A", hex::Upper(10));
    EXPECT_EQ("FF", hex::Upper(255));
    EXPECT_EQ("7F", hex::Upper(0x7F));
}

TEST(TempNames, UniqueNamesPadAndWrapAfter9999) {
    files::ResetUniqueNames();
    char pid[16];
    snprintf(pid, sizeof(pid), "%04d", _getpid());
    std::string first = N(files::MakeUniqueName());
    ASSERT_GE(first.size(), 12u);
    EXPECT_EQ(pid, first.substr(0, first.size() - 8));
    EXPECT_EQ("0001", first.substr(first.size() - 4));
    std::string name;
    for (int i = 2; i <= 9999; ++i) name = N(files::MakeUniqueName());
    EXPECT_EQ("9999", name.substr(name.size() - 4));
    name = N(files::MakeUniqueName());
    EXPECT_EQ("0000", name.substr(name.size() - 4)) << "the counter wraps to zero";
    name = N(files::MakeUniqueName());
    EXPECT_EQ("0001", name.substr(name.size() - 4));
    for (char ch : name) EXPECT_TRUE(ch >= '0' && ch <= '9');
}

TEST(TempDirectories, TempAndModuleDirectoriesEndInABackslash) {
    std::wstring temp;
    ASSERT_TRUE(files::TempDirectory(temp));
    EXPECT_EQ(TempPath(), N(temp));
    EXPECT_EQ(testsupport::ExeDirectory(), N(tarnwick::ModuleDirectory()));
}

// No temporary directory or a missing one: nothing may be created, and no other directory stands
// in for it. One whose name no code page but Unicode can write is used as it is.
TEST(TempDirectories, AMissingTemporaryDirectoryIsRefusedAndAnyNameIsUsed) {
    static std::wstring answer;
    auto query = [](DWORD size, LPWSTR buffer) -> DWORD WINAPI {
        if (answer.size() >= size) return static_cast<DWORD>(answer.size() + 1);
        wcscpy(buffer, answer.c_str());
        return static_cast<DWORD>(answer.size());
    };
    auto saved = files::SetTempPathQuery(query);
    std::wstring temp = L"unchanged";
    for (const std::wstring& path : {std::wstring(), std::wstring(L"C:\\no-such-temp-dir\\")}) {
        answer = path;
        EXPECT_FALSE(files::TempDirectory(temp));
        EXPECT_EQ(L"", temp);
        EXPECT_FALSE(files::IsInTempDirectory(L"C:\\no-such-temp-dir\\x"));
    }
    answer = W(TempPath()) + L"\u0E44\u0E17\u0E22\U00020BB7\\";
    ASSERT_TRUE(CreateDirectoryW(answer.c_str(), nullptr));
    EXPECT_TRUE(files::TempDirectory(temp));
    EXPECT_EQ(answer, temp);
    EXPECT_TRUE(files::IsInTempDirectory(answer + L"x.zip"));
    files::SetTempPathQuery(saved);
    RemoveDirectoryW(answer.c_str());
}

TEST(TempDirectories, GuardAcceptsOnlyWhatLiesBelowTheTemporaryDirectory) {
    std::string temp = TempPath();
    std::string bare = temp.substr(0, temp.size() - 1);
    EXPECT_TRUE(files::IsInTempDirectory(W(temp + "a")));
    EXPECT_TRUE(files::IsInTempDirectory(W(temp + "a\\b\\c.txt")));
    EXPECT_FALSE(files::IsInTempDirectory(W(temp))) << "the directory itself";
    EXPECT_FALSE(files::IsInTempDirectory(W(bare)));
    EXPECT_FALSE(files::IsInTempDirectory(W(temp + ".")));
    EXPECT_FALSE(files::IsInTempDirectory(W(temp + "..\\escaped")));
    EXPECT_FALSE(files::IsInTempDirectory(W(temp + "x..\\..\\..\\escaped")));
    EXPECT_TRUE(files::IsInTempDirectory(W(temp + "x..\\..\\inside")));
    EXPECT_FALSE(files::IsInTempDirectory(W(temp + "a\\..\\..\\escaped")));
    EXPECT_FALSE(files::IsInTempDirectory(W("C:\\other" + temp.substr(2))));
    EXPECT_FALSE(files::IsInTempDirectory(W(bare + "-sibling\\x"))) << "a sibling sharing the prefix";
    EXPECT_FALSE(files::IsInTempDirectory(W("")));
}

class TreeRemoval : public ::testing::Test {
protected:
    std::string root = TempPath() + "tree-removal-test";
    void SetUp() override {
        CreateDirectoryA(root.c_str(), nullptr);
        CreateDirectoryA((root + "\\sub").c_str(), nullptr);
        CreateDirectoryA((root + "\\sub\\deeper").c_str(), nullptr);
        WriteFileBytes(root + "\\a.txt", "a");
        WriteFileBytes(root + "\\sub\\b.txt", "b");
        WriteFileBytes(root + "\\sub\\deeper\\c.txt", "c");
        SetFileAttributesA((root + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA((root + "\\sub\\deeper\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA((root + "\\sub").c_str(), FILE_ATTRIBUTE_READONLY);
    }
    void TearDown() override {
        if (Exists(root)) files::RemoveDirectoryTree(W(root));
    }
};

TEST_F(TreeRemoval, RemovesReadOnlyFilesAndSubdirectories) {
    EXPECT_TRUE(files::RemoveDirectoryTree(W(root)));
    EXPECT_FALSE(Exists(root));
}

TEST_F(TreeRemoval, RefusesTheTemporaryDirectoryItself) {
    std::string temp = TempPath();
    EXPECT_FALSE(files::RemoveDirectoryTree(W(temp.substr(0, temp.size() - 1))));
    EXPECT_TRUE(Exists(root + "\\a.txt"));
}

TEST_F(TreeRemoval, RefusesPathsOutsideOrClimbingOut) {
    std::string outside = testsupport::ExeDirectory() + "outside-tree";
    CreateDirectoryA(outside.c_str(), nullptr);
    WriteFileBytes(outside + "\\keep.txt", "keep");
    EXPECT_FALSE(files::RemoveDirectoryTree(W(outside)));
    EXPECT_TRUE(Exists(outside + "\\keep.txt"));
    EXPECT_FALSE(files::RemoveDirectoryTree(W(root + "\\..\\..\\x")));
    EXPECT_TRUE(Exists(root + "\\a.txt"));
    DeleteFileA((outside + "\\keep.txt").c_str());
    RemoveDirectoryA(outside.c_str());
}

TEST_F(TreeRemoval, AMissingDirectoryIsNotRemoved) {
    EXPECT_FALSE(files::RemoveDirectoryTree(W(root + "\\no-such-dir")));
}

// The size query reads attributes only: a long path held open exclusively by another program is
// sized, and a path that does not exist is never created.
TEST(SizeQuery, SizesFilesHeldOpenAndCreatesNothing) {
    const std::string path = TempPath() + std::string(180, 'n') + ".bin";
    ASSERT_TRUE(WriteFileBytes(path, std::string(1234, 's')));
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const tarnwick::files::SizeQuery query = tarnwick::files::QueryFileSize(W(path));
    EXPECT_FALSE(query.openFailed) << query.code;
    EXPECT_EQ(1234, query.size);
    CloseHandle(held);
    DeleteFileA(path.c_str());

    const tarnwick::files::SizeQuery missing = tarnwick::files::QueryFileSize(W(path));
    EXPECT_EQ(-1, missing.size);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), missing.code);
    EXPECT_FALSE(Exists(path)) << "the size query created the file";
}

TEST(MissingResources, PathCheckFallsBackToTextsWithTheSystemText) {
    tarnwick::SetModuleInstance(GetModuleHandleA(nullptr));  // this program has no string table
    CTarnwickCtrl* control = new CTarnwickCtrl();
    EXPECT_FALSE(control->CheckPath(L""));
    const std::string emptyPrefix = "给定文件路径为空且错误信息提示资源没有找到[";
    EXPECT_EQ(emptyPrefix, testsupport::Gbk(control->m_strLastError).substr(0, emptyPrefix.size()));
    EXPECT_EQ(']', testsupport::Gbk(control->m_strLastError).back());

    EXPECT_FALSE(control->CheckPath(W(TempPath() + "no-such-file.bin")));
    const std::string missingPrefix = "文件不存在且错误信息提示资源没有找到[";
    EXPECT_EQ(missingPrefix, testsupport::Gbk(control->m_strLastError).substr(0, missingPrefix.size()));
    EXPECT_EQ(std::string::npos, testsupport::Gbk(control->m_strLastError).find("no-such-file"))
        << "the fallback names the system text, not the path";
    control->Release();
    tarnwick::SetModuleInstance(nullptr);
}

TEST(ZipBinding, WithoutTheLibraryBothOperationsFailWithTheLoadError) {
    namespace archive = tarnwick::archive;
    ModuleIn module(testsupport::ExeDirectory() + "..\\testdata\\no-ziptool");
    ASSERT_TRUE(module.ok());
    std::string source = TempPath() + "zip-binding-41.bin";
    ASSERT_TRUE(WriteFileBytes(source, std::string(41, 'z')));

    archive::ZipOutcome packed = archive::PackFile(W(source), L"x.zip", W(TempPath()));
    EXPECT_EQ(archive::ZipStatus::LoadFailed, packed.status);
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), packed.code);
    EXPECT_FALSE(packed.size.openFailed);
    archive::ZipOutcome unpacked = archive::UnpackArchive(W(source), W(TempPath() + "unzip-binding-test"));
    EXPECT_EQ(archive::ZipStatus::LoadFailed, unpacked.status);
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), unpacked.code);
    EXPECT_FALSE(Exists(TempPath() + "x.zip"));
    EXPECT_FALSE(Exists(TempPath() + "unzip-binding-test"));

    // 40 bytes never reach the library.
    ASSERT_TRUE(WriteFileBytes(source, std::string(40, 'z')));
    EXPECT_EQ(archive::ZipStatus::TooSmall, archive::PackFile(W(source), L"x.zip", W(TempPath())).status);
    DeleteFileA(source.c_str());
}

}  // namespace
