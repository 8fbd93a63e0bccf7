// ziptool.dll on Windows: ANSI (code page 936) names, new-only files and directories, clean-up
// after refused archives, read-only files and the file count.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <zlib.h>

#include "ziptool.h"
#include "unit_support.h"

namespace {

// "中文.txt" in code page 936, in UTF-8 and as UTF-16.
const std::string kChineseNameGbk = "\xD6\xD0\xCE\xC4.txt";
const std::string kChineseNameUtf8 = "\xE4\xB8\xAD\xE6\x96\x87.txt";
const std::wstring kChineseNameWide = L"\u4E2D\u6587.txt";

std::uint32_t crc32Of(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A stored entry of a hand-built archive.
struct StoredEntry {
    std::string name;
    std::string data;
    std::uint16_t flags = 0;
    std::uint32_t externalAttributes = 0;  // MS-DOS attributes in the low byte
    bool corruptCrc = false;
};

void put(std::string& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string buildArchive(const std::vector<StoredEntry>& entries) {
    std::string out, central;
    for (const StoredEntry& e : entries) {
        const std::uint32_t crc = crc32Of(e.data) ^ (e.corruptCrc ? 1u : 0u);
        const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        put(out, 0x04034b50, 4), put(out, 20, 2), put(out, e.flags, 2), put(out, 0, 2), put(out, 0, 4);
        put(out, crc, 4), put(out, e.data.size(), 4), put(out, e.data.size(), 4);
        put(out, e.name.size(), 2), put(out, 0, 2);
        out += e.name + e.data;
        put(central, 0x02014b50, 4), put(central, 20, 2), put(central, 20, 2), put(central, e.flags, 2);
        put(central, 0, 2), put(central, 0, 4), put(central, crc, 4), put(central, e.data.size(), 4);
        put(central, e.data.size(), 4), put(central, e.name.size(), 2), put(central, 0, 2), put(central, 0, 2);
        put(central, 0, 2), put(central, 0, 2), put(central, e.externalAttributes, 4), put(central, offset, 4);
        central += e.name;
    }
    const std::uint32_t directoryOffset = static_cast<std::uint32_t>(out.size());
    out += central;
    put(out, 0x06054b50, 4), put(out, 0, 2), put(out, 0, 2), put(out, entries.size(), 2);
    put(out, entries.size(), 2), put(out, central.size(), 4), put(out, directoryOffset, 4), put(out, 0, 2);
    return out;
}

std::string readBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// The first entry's data as zlib alone reads it from the local header (not through our reader),
// with zlib's CRC-32 checked against the header's; "<bad: ...>" when anything disagrees.
std::string readFirstEntryWithZlib(const std::string& archive) {
    auto u16 = [&](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(archive[at]) |
                                                           static_cast<unsigned char>(archive[at + 1]) << 8); };
    auto u32 = [&](size_t at) { return static_cast<std::uint32_t>(u16(at) | u16(at + 2) << 16); };
    if (archive.size() < 30 || u32(0) != 0x04034b50) return "<bad: no local header>";
    const unsigned method = u16(8);
    const std::uint32_t crc = u32(14), packed = u32(18), size = u32(22);
    const size_t start = 30 + u16(26) + u16(28);
    if (start + packed > archive.size()) return "<bad: data past the end>";
    std::string data(size, '\0');
    if (method == 0) {
        data = archive.substr(start, packed);
    } else if (method == 8) {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return "<bad: inflateInit2>";
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(archive.data() + start));
        z.avail_in = packed;
        z.next_out = reinterpret_cast<Bytef*>(&data[0]);
        z.avail_out = size;
        const int status = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        if (status != Z_STREAM_END || z.avail_out != 0) return "<bad: inflate " + std::to_string(status) + ">";
    } else {
        return "<bad: method " + std::to_string(method) + ">";
    }
    const uLong computed = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    if (computed != crc) return "<bad: CRC>";
    return data;
}

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void removeTree(const std::wstring& directory) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = directory + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(directory.c_str());
}

// Names (relative, '\' separated, directories with a trailing '\') in a directory tree.
std::map<std::wstring, std::string> treeOf(const std::wstring& root, const std::wstring& prefix = L"") {
    std::map<std::wstring, std::string> tree;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((root + L"\\" + prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return tree;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[prefix + name + L"\\"] = "";
            const auto below = treeOf(root, prefix + name + L"\\");
            tree.insert(below.begin(), below.end());
        } else {
            tree[prefix + name] = readBytes(root + L"\\" + prefix + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return tree;
}

class ZipTool : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA((testsupport::ExeDirectory() + "ziptool.dll").c_str());
        ASSERT_NE(module_, nullptr) << "ziptool.dll not beside the test program";
        pack_ = reinterpret_cast<FileToZipFileProc>(GetProcAddress(module_, "FileToZipFile"));
        extract_ = reinterpret_cast<ExtractFileToPathProc>(GetProcAddress(module_, "ExtractFileToPath"));
        ASSERT_NE(pack_, nullptr);
        ASSERT_NE(extract_, nullptr);
        work_ = testsupport::TempPath() + "ziptool-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        removeTree(widen(work_));
        ASSERT_TRUE(CreateDirectoryA(work_.c_str(), nullptr));
    }
    void TearDown() override {
        removeTree(widen(work_));
        if (module_) FreeLibrary(module_);
    }

    std::string path(const std::string& name) const { return work_ + "\\" + name; }

    int pack(const std::string& source, const std::string& zipName) {
        std::string src = source, name = zipName, dir = work_ + "\\";
        return pack_(&src[0], &name[0], &dir[0]);
    }
    int extract(const std::string& archive, const std::string& destination, unsigned int& count) {
        std::string dest = destination;
        count = 0;
        return extract_(archive.c_str(), &dest[0], &count);
    }
    std::string writeArchive(const std::string& name, const std::vector<StoredEntry>& entries) {
        EXPECT_TRUE(testsupport::WriteFileBytes(path(name), buildArchive(entries)));
        return path(name);
    }

    HMODULE module_ = nullptr;
    FileToZipFileProc pack_ = nullptr;
    ExtractFileToPathProc extract_ = nullptr;
    std::string work_;
};

// ---- packing ------------------------------------------------------------------------------------

// A name code page 936 can write is stored in it, unflagged, as Chinese zip tools expect; one it
// cannot (a CJK Extension B character) is stored as flagged UTF-8. Both come back.
TEST_F(ZipTool, EntryNamesIn936WhenTheyFitElseFlaggedUtf8) {
    ASSERT_EQ(GetACP(), 936u) << "the suite expects code page 936";
    const std::string content = "contents of a file with a Chinese name\r\n";
    auto zipW = reinterpret_cast<ZipFileWProc>(GetProcAddress(module_, "ZipFileW"));
    ASSERT_NE(nullptr, zipW);
    struct Case {
        std::wstring name;
        bool flagged;
        std::string stored;
    } cases[] = {
        {kChineseNameWide, false, kChineseNameGbk},
        {L"\u738B\U00020BB7.txt", true, "\xE7\x8E\x8B\xF0\xA0\xAE\xB7.txt"},
    };
    for (const Case& k : cases) {
        const std::wstring source = widen(path("")) + k.name;
        HANDLE h = CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD written = 0;
        WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(h);
        ASSERT_EQ(ZIPTOOL_SUCCEEDED, zipW(source.c_str(), L"cn.zip", widen(path("")).c_str()));

        const std::string archive = readBytes(widen(path("cn.zip")));
        const std::size_t central = archive.find("PK\x01\x02");
        ASSERT_NE(central, std::string::npos);
        const unsigned flags = static_cast<unsigned char>(archive[central + 8]) |
                               static_cast<unsigned char>(archive[central + 9]) << 8;
        EXPECT_EQ(k.flagged, (flags & 0x0800u) != 0);
        EXPECT_EQ(archive.substr(central + 46, k.stored.size()), k.stored);

        unsigned int count = 0;
        ASSERT_EQ(extract(path("cn.zip"), path("out"), count), ZIPTOOL_SUCCEEDED);
        EXPECT_EQ(treeOf(widen(path("out"))), (std::map<std::wstring, std::string>{{k.name, content}}));
        DeleteFileW(source.c_str());
        DeleteFileW(widen(path("cn.zip")).c_str());
        DeleteFileW((widen(path("out")) + L"\\" + k.name).c_str());
        RemoveDirectoryW(widen(path("out")).c_str());
    }
}

TEST_F(ZipTool, ExistingArchiveIsNeverReplaced) {
    ASSERT_TRUE(testsupport::WriteFileBytes(path("src.txt"), "new data"));
    ASSERT_TRUE(testsupport::WriteFileBytes(path("taken.zip"), "precious"));
    EXPECT_EQ(pack(path("src.txt"), "taken.zip"), ZIPTOOL_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(readBytes(widen(path("taken.zip"))), "precious");
}

TEST_F(ZipTool, MissingSourceLeavesNoArchive) {
    EXPECT_EQ(pack(path("absent.txt"), "none.zip"), ZIPTOOL_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(testsupport::Exists(path("none.zip")));
}

TEST_F(ZipTool, ReadOnlySourceIsPacked) {
    const std::string content(100000, 'r');
    ASSERT_TRUE(testsupport::WriteFileBytes(path("ro.txt"), content));
    ASSERT_TRUE(SetFileAttributesA(path("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(pack(path("ro.txt"), "ro.zip"), ZIPTOOL_SUCCEEDED);
    const std::string archive = readBytes(widen(path("ro.zip")));
    EXPECT_LT(archive.size(), content.size() / 10);  // deflated
    EXPECT_EQ(readFirstEntryWithZlib(archive), content);
}

// Random bytes do not deflate: the data is stored instead, and the abandoned deflate output must
// be cut off the archive again.
TEST_F(ZipTool, IncompressibleDataIsStoredAcrossManyBlocks) {
    std::string noise(3 * 1024 * 1024 + 5, '\0');
    std::uint32_t state = 2463534242u;
    for (char& c : noise) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        c = static_cast<char>(state);
    }
    ASSERT_TRUE(testsupport::WriteFileBytes(path("noise.bin"), noise));
    ASSERT_EQ(pack(path("noise.bin"), "noise.zip"), ZIPTOOL_SUCCEEDED);
    const std::string archive = readBytes(widen(path("noise.zip")));
    EXPECT_EQ(archive.size(), noise.size() + 30 + 46 + 22 + 2 * std::string("noise.bin").size());
    EXPECT_EQ(archive[8], 0) << "method should be stored";
    EXPECT_TRUE(readFirstEntryWithZlib(archive) == noise) << "zlib's CRC-32 or the stored bytes disagree";
}

TEST_F(ZipTool, NullArgumentsFailWithoutSideEffects) {
    std::string text = "x";
    EXPECT_EQ(pack_(nullptr, &text[0], &text[0]), ZIPTOOL_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(pack_(&text[0], nullptr, &text[0]), ZIPTOOL_FAILED);
    EXPECT_EQ(pack_(&text[0], &text[0], nullptr), ZIPTOOL_FAILED);
    unsigned int count = 0;
    std::string dest = path("out");
    EXPECT_EQ(extract_(nullptr, &dest[0], &count), ZIPTOOL_FAILED);
    EXPECT_EQ(extract_(path("a.zip").c_str(), nullptr, &count), ZIPTOOL_FAILED);
    EXPECT_EQ(extract_(path("a.zip").c_str(), &dest[0], nullptr), ZIPTOOL_FAILED);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(treeOf(widen(work_)).empty());
}

// ---- extracting ---------------------------------------------------------------------------------

TEST_F(ZipTool, ExistingDestinationIsLeftUntouched) {
    const std::string archive = writeArchive("a.zip", {{"new.txt", "data"}});
    ASSERT_TRUE(CreateDirectoryA(path("out").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteFileBytes(path("out\\mine.txt"), "mine"));
    unsigned int count = 0;
    EXPECT_EQ(extract(archive, path("out"), count), ZIPTOOL_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(treeOf(widen(path("out"))), (std::map<std::wstring, std::string>{{L"mine.txt", "mine"}}));
}

TEST_F(ZipTool, RefusedArchivesLeaveNoDestinationBehind) {
    const StoredEntry good{"good.txt", "good"};
    const std::vector<std::pair<std::vector<StoredEntry>, DWORD>> cases = {
        {{good, {"..\\evil.txt", "evil"}}, ERROR_INVALID_NAME},
        {{good, {"a\\..\\..\\evil.txt", "evil"}}, ERROR_INVALID_NAME},
        {{good, {"C:evil.txt", "evil"}}, ERROR_INVALID_NAME},
        {{good, {"good.txt:stream", "evil"}}, ERROR_INVALID_NAME},
        {{good, {"NUL.txt", "evil"}}, ERROR_INVALID_NAME},
        {{good, {"secret", "data", 0x0001}}, ERROR_NOT_SUPPORTED},
        {{good, {"second.txt", "data", 0, 0, true}}, ERROR_CRC},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string archive = writeArchive("hostile.zip", cases[i].first);
        unsigned int count = 0;
        EXPECT_EQ(extract(archive, path("out"), count), ZIPTOOL_FAILED);
        EXPECT_EQ(GetLastError(), cases[i].second);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(treeOf(widen(work_)).size(), 1u) << "only the archive may remain";
        EXPECT_FALSE(testsupport::Exists(testsupport::TempPath() + "evil.txt"));
    }
}

TEST_F(ZipTool, ReadOnlyEntryIsExtractedReadOnly) {
    const std::string archive = writeArchive("ro.zip", {{"ro.txt", "locked", 0, FILE_ATTRIBUTE_READONLY},
                                                        {"rw.txt", "open"}});
    unsigned int count = 0;
    ASSERT_EQ(extract(archive, path("out"), count), ZIPTOOL_SUCCEEDED);
    EXPECT_EQ(count, 2u);
    EXPECT_NE(GetFileAttributesA(path("out\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(GetFileAttributesA(path("out\\rw.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(readBytes(widen(path("out\\ro.txt"))), "locked");
}

TEST_F(ZipTool, ReadOnlyFileIsRemovedWhenALaterEntryFails) {
    const std::string archive = writeArchive(
        "bad.zip", {{"sub\\ro.txt", "locked", 0, FILE_ATTRIBUTE_READONLY}, {"z.txt", "data", 0, 0, true}});
    unsigned int count = 0;
    EXPECT_EQ(extract(archive, path("out"), count), ZIPTOOL_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CRC));
    EXPECT_FALSE(testsupport::Exists(path("out")));
}

TEST_F(ZipTool, CountHoldsFilesWrittenNotDirectories) {
    const std::string archive = writeArchive(
        "tree.zip", {{"a/", ""}, {"a/1.txt", "one"}, {"a/b/2.txt", "two"}, {"3.txt", "three"}, {"empty/", ""}});
    unsigned int count = 0;
    ASSERT_EQ(extract(archive, path("out"), count), ZIPTOOL_SUCCEEDED);
    EXPECT_EQ(count, 3u);
    const std::map<std::wstring, std::string> expected = {{L"a\\", ""},       {L"a\\1.txt", "one"},
                                                          {L"a\\b\\", ""},    {L"a\\b\\2.txt", "two"},
                                                          {L"3.txt", "three"}, {L"empty\\", ""}};
    EXPECT_EQ(treeOf(widen(path("out"))), expected);
}

TEST_F(ZipTool, NamesWithoutUtf8FlagAreReadAsCodePage936) {
    const std::string archive = writeArchive("legacy.zip", {{kChineseNameGbk, "legacy"}, {kChineseNameUtf8, "utf8", 0x0800}});
    unsigned int count = 0;
    // Both spell the same name: the second must not replace the first.
    EXPECT_EQ(extract(archive, path("out"), count), ZIPTOOL_FAILED);
    EXPECT_FALSE(testsupport::Exists(path("out")));

    const std::string single = writeArchive("single.zip", {{kChineseNameGbk, "legacy"}});
    ASSERT_EQ(extract(single, path("out"), count), ZIPTOOL_SUCCEEDED);
    EXPECT_EQ(treeOf(widen(path("out"))), (std::map<std::wstring, std::string>{{kChineseNameWide, "legacy"}}));
}

}  // namespace
