// File services the scripts cannot reach: temporary names and directories, the tree removal
// and its guard, buffer writes, the texts used when the string resources are missing, and the
// zip binding without its library.
#include <gtest/gtest.h>
#include <windows.h>
#include <process.h>
#include <string>
#include "TarnwickApp.h"
#include "TarnwickCtrl.h"
#include "framework/ModuleState.h"
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
        CopyFileA((testsupport::ExeDirectory() + "OVALON.x86.dll").c_str(), path_.c_str(), FALSE);
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

TEST(TempNames, ByteToHexIsTwoUpperCaseDigits) {
    EXPECT_EQ("00", CTarnwickApp::ByteToHex(0));
    EXPECT_EQ("0A", CTarnwickApp::ByteToHex(10));
    EXPECT_EQ("FF", CTarnwickApp::ByteToHex(255));
    EXPECT_EQ("7F", CTarnwickApp::ByteToHex(0x7F));
}

TEST(TempNames, UniqueNamesPadAndWrapAfter9999) {
    CTarnwickApp& app = TarnwickApp();
    app.InitInstance();
    char pid[16];
    snprintf(pid, sizeof(pid), "%04d", _getpid());
    std::string first = app.MakeUniqueName();
    ASSERT_GE(first.size(), 12u);
    EXPECT_EQ(pid, first.substr(0, first.size() - 8));
    EXPECT_EQ("0001", first.substr(first.size() - 4));
    std::string name;
    for (int i = 2; i <= 9999; ++i) name = app.MakeUniqueName();
    EXPECT_EQ("9999", name.substr(name.size() - 4));
    name = app.MakeUniqueName();
    EXPECT_EQ("0000", name.substr(name.size() - 4)) << "the counter wraps to zero";
    name = app.MakeUniqueName();
    EXPECT_EQ("0001", name.substr(name.size() - 4));
    for (char ch : name) EXPECT_TRUE(ch >= '0' && ch <= '9');
}

TEST(TempDirectories, TempAndModuleDirectoriesEndInABackslash) {
    CTarnwickApp& app = TarnwickApp();
    EXPECT_EQ(TempPath(), app.GetTempDirectory());
    EXPECT_EQ(testsupport::ExeDirectory(), app.GetModuleDirectory());
}

TEST(TempDirectories, TempFallsBackToTheModuleDirectory) {
    CTarnwickApp& app = TarnwickApp();
    auto saved = app.m_pfnGetTempPathA;
    app.m_pfnGetTempPathA = [](DWORD, LPSTR) -> DWORD WINAPI { return 0; };
    EXPECT_EQ(app.GetModuleDirectory(), app.GetTempDirectory());
    app.m_pfnGetTempPathA = saved;
}

TEST(TempDirectories, GuardAcceptsOnlyWhatLiesBelowTheTemporaryDirectory) {
    CTarnwickApp& app = TarnwickApp();
    std::string temp = TempPath();
    std::string bare = temp.substr(0, temp.size() - 1);
    EXPECT_TRUE(app.IsInTempDirectory(temp + "a"));
    EXPECT_TRUE(app.IsInTempDirectory(temp + "a\\b\\c.txt"));
    EXPECT_FALSE(app.IsInTempDirectory(temp)) << "the directory itself";
    EXPECT_FALSE(app.IsInTempDirectory(bare));
    EXPECT_FALSE(app.IsInTempDirectory(temp + "."));
    EXPECT_FALSE(app.IsInTempDirectory(temp + "..\\escaped"));
    EXPECT_FALSE(app.IsInTempDirectory(temp + "x..\\..\\..\\escaped"));
    EXPECT_TRUE(app.IsInTempDirectory(temp + "x..\\..\\inside"));
    EXPECT_FALSE(app.IsInTempDirectory(temp + "a\\..\\..\\escaped"));
    EXPECT_FALSE(app.IsInTempDirectory("C:\\other" + temp.substr(2)));
    EXPECT_FALSE(app.IsInTempDirectory(bare + "-sibling\\x")) << "a sibling sharing the prefix";
    EXPECT_FALSE(app.IsInTempDirectory(""));
}

class TreeRemoval : public ::testing::Test {
protected:
    CTarnwickApp& app = TarnwickApp();
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
        if (Exists(root)) app.RemoveDirectoryTree(root);
    }
};

TEST_F(TreeRemoval, RemovesReadOnlyFilesAndSubdirectories) {
    EXPECT_TRUE(app.RemoveDirectoryTree(root));
    EXPECT_FALSE(Exists(root));
}

TEST_F(TreeRemoval, RefusesTheTemporaryDirectoryItself) {
    std::string temp = TempPath();
    EXPECT_FALSE(app.RemoveDirectoryTree(temp.substr(0, temp.size() - 1)));
    EXPECT_TRUE(Exists(root + "\\a.txt"));
}

TEST_F(TreeRemoval, RefusesPathsOutsideOrClimbingOut) {
    std::string outside = testsupport::ExeDirectory() + "outside-tree";
    CreateDirectoryA(outside.c_str(), nullptr);
    WriteFileBytes(outside + "\\keep.txt", "keep");
    EXPECT_FALSE(app.RemoveDirectoryTree(outside));
    EXPECT_TRUE(Exists(outside + "\\keep.txt"));
    EXPECT_FALSE(app.RemoveDirectoryTree(root + "\\..\\..\\x"));
    EXPECT_TRUE(Exists(root + "\\a.txt"));
    DeleteFileA((outside + "\\keep.txt").c_str());
    RemoveDirectoryA(outside.c_str());
}

TEST_F(TreeRemoval, AMissingDirectoryIsNotRemoved) {
    EXPECT_FALSE(app.RemoveDirectoryTree(root + "\\no-such-dir"));
}

TEST(BufferWrites, CountZeroMakesAnEmptyFileAndExistingFilesAreReplaced) {
    CTarnwickApp& app = TarnwickApp();
    std::string path = TempPath() + "write-buffer-test.bin";
    ASSERT_TRUE(WriteFileBytes(path, "old contents"));
    EXPECT_EQ(0, app.WriteBufferToFile(path, "", 0));
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(0u, data.nFileSizeLow);
    EXPECT_EQ(5, app.WriteBufferToFile(path, "hello", 5));
    EXPECT_EQ(-1, app.WriteBufferToFile(TempPath() + "no-such-dir\\x.bin", "x", 1));
    DeleteFileA(path.c_str());
}

TEST(MissingResources, PathCheckFallsBackToTextsWithTheSystemText) {
    tarnwick::SetModuleInstance(GetModuleHandleA(nullptr));  // this program has no string table
    CTarnwickCtrl* control = new CTarnwickCtrl();
    EXPECT_EQ(-1, control->ValidateFilePath(""));
    const std::string emptyPrefix = "给定文件路径为空且错误信息提示资源没有找到[";
    EXPECT_EQ(emptyPrefix, control->m_strLastError.substr(0, emptyPrefix.size()));
    EXPECT_EQ(']', control->m_strLastError.back());

    EXPECT_EQ(-1, control->ValidateFilePath(TempPath() + "no-such-file.bin"));
    const std::string missingPrefix = "文件不存在且错误信息提示资源没有找到[";
    EXPECT_EQ(missingPrefix, control->m_strLastError.substr(0, missingPrefix.size()));
    EXPECT_EQ(std::string::npos, control->m_strLastError.find("no-such-file"))
        << "the fallback names the system text, not the path";
    control->Release();
    tarnwick::SetModuleInstance(nullptr);
}

TEST(ZipBinding, WithoutTheLibraryBothOperationsFailWithTheLoadText) {
    ModuleIn module(testsupport::ExeDirectory() + "..\\testdata\\no-ziptool");
    ASSERT_TRUE(module.ok());
    CTarnwickCtrl* control = new CTarnwickCtrl();
    std::string source = TempPath() + "zip-binding-41.bin";
    ASSERT_TRUE(WriteFileBytes(source, std::string(41, 'z')));
    std::string expected = testsupport::SystemText(ERROR_MOD_NOT_FOUND);

    EXPECT_EQ(-1, control->ZipFile(source, "x.zip", TempPath()));
    EXPECT_EQ(expected, control->m_strLastError);
    unsigned int count = 0;
    control->m_strLastError.clear();
    EXPECT_EQ(-1, control->UnzipFile(source, TempPath() + "unzip-binding-test", &count));
    EXPECT_EQ(expected, control->m_strLastError);
    EXPECT_FALSE(Exists(TempPath() + "x.zip"));

    // 40 bytes never reach the library: the size query empties the text and that is all.
    ASSERT_TRUE(WriteFileBytes(source, std::string(40, 'z')));
    control->m_strLastError = "earlier";
    EXPECT_EQ(-1, control->ZipFile(source, "x.zip", TempPath()));
    EXPECT_EQ("", control->m_strLastError);
    DeleteFileA(source.c_str());
    control->Release();
}

}  // namespace
