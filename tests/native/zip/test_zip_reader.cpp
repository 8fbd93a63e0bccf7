// Archives written by Info-ZIP zip and by Python's zipfile, extracted by our reader.
#include "posix_zip_io.h"
#include "zip_test_support.h"

#include <sys/stat.h>

namespace ziptest {
namespace {

using zipcore::Status;

std::size_t fileCount(const Tree& tree) {
    std::size_t files = 0;
    for (const auto& item : tree) files += item.first.back() != '/';
    return files;
}

class InfoZipArchives : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(source_ / "docs" / "deep");
        fs::create_directories(source_ / "empty_dir");
        writeFile((source_ / "readme.txt").string(), textBytes(20000));
        writeFile((source_ / "noise.bin").string(), randomBytes(70000, 5));
        writeFile((source_ / "zero.dat").string(), "");
        writeFile((source_ / "docs" / "deep" / "note.txt").string(), textBytes(300));
    }

    // Zips the source tree with `options` and extracts it with our reader.
    void expectSameTreeAfter(const std::string& options) {
        const std::string archive = dir_ / "tree.zip";
        ASSERT_EQ(run("cd " + quoted(source_.string()) + " && zip -q -r " + options + " " + quoted(archive) + " ."), 0);
        std::uint32_t count = 0;
        ASSERT_EQ(extractFile(archive, dir_ / "out", count), Status::Ok);
        const Tree expected = readTree(source_);
        EXPECT_EQ(readTree(dir_ / "out"), expected);
        EXPECT_EQ(count, fileCount(expected));
    }

    TempDir dir_;
    fs::path source_ = dir_.path() / "src";
};

TEST_F(InfoZipArchives, Stored) { expectSameTreeAfter("-0"); }
TEST_F(InfoZipArchives, Deflated) { expectSameTreeAfter("-6"); }
TEST_F(InfoZipArchives, BestCompression) { expectSameTreeAfter("-9"); }
TEST_F(InfoZipArchives, ForcedZip64) { expectSameTreeAfter("-fz"); }

// Written to a pipe, zip cannot seek back: sizes and CRC follow the data in descriptors.
TEST_F(InfoZipArchives, StreamedWithDataDescriptors) {
    const std::string archive = dir_ / "streamed.zip";
    const std::string content = textBytes(100000);
    writeFile(dir_ / "input.txt", content);
    ASSERT_EQ(run("zip -q - - < " + quoted(dir_ / "input.txt") + " | cat > " + quoted(archive)), 0);
    std::uint32_t count = 0;
    ASSERT_EQ(extractFile(archive, dir_ / "out", count), Status::Ok);
    EXPECT_EQ(readTree(dir_ / "out"), (Tree{{"-", content}}));
    EXPECT_EQ(count, 1u);
}

TEST_F(InfoZipArchives, ReadOnlyFileStaysReadOnly) {
    fs::permissions(source_ / "readme.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string archive = dir_ / "ro.zip";
    ASSERT_EQ(run("cd " + quoted(source_.string()) + " && zip -q " + quoted(archive) + " readme.txt zero.dat"), 0);
    std::uint32_t count = 0;
    ASSERT_EQ(extractFile(archive, dir_ / "out", count), Status::Ok);
    EXPECT_EQ(fs::status(dir_.path() / "out" / "readme.txt").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(fs::status(dir_.path() / "out" / "zero.dat").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(readFile(dir_ / "out/readme.txt"), readFile((source_ / "readme.txt").string()));
}

class PythonArchives : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() {
        corpus_ = new TempDir;
        ASSERT_EQ(run("python3 " + quoted(zipToolsScript()) + " foreign " + quoted(corpus_->path().string())), 0);
    }
    static void TearDownTestSuite() {
        delete corpus_;
        corpus_ = nullptr;
    }
    static TempDir* corpus_;
};
TempDir* PythonArchives::corpus_ = nullptr;

TEST_P(PythonArchives, ExtractToTheTreeTheyWereMadeFrom) {
    const std::string name = GetParam();
    TempDir out;
    std::uint32_t count = 0;
    ASSERT_EQ(extractFile(*corpus_ / (name + ".zip"), out / "x", count), Status::Ok);
    const Tree expected = readTree(corpus_->path() / (name + ".expected"));
    EXPECT_EQ(readTree(out.path() / "x"), expected);
    EXPECT_EQ(count, fileCount(expected));
}

INSTANTIATE_TEST_SUITE_P(Zipfile, PythonArchives,
                         ::testing::Values("py_stored", "py_deflated", "py_utf8_names", "py_cp936_name",
                                           "py_data_descriptor", "py_zip64", "py_repetitive"));

TEST(ReaderTarget, ArchiveWithoutEntriesGivesAnEmptyDirectory) {
    TempDir dir;
    ASSERT_EQ(run("python3 -c 'import zipfile,sys; zipfile.ZipFile(sys.argv[1], \"w\").close()' " +
                  quoted(dir / "empty.zip")),
              0);
    std::uint32_t count = 99;
    ASSERT_EQ(extractFile(dir / "empty.zip", dir / "out", count), Status::Ok);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(isEmptyDirectory(dir.path() / "out"));
}

TEST(ReaderTarget, ExistingDestinationIsLeftAlone) {
    TempDir dir;
    writeFile(dir / "a.txt", "content");
    ASSERT_EQ(packFile(dir / "a.txt", dir / "a.zip", ""), Status::Ok);
    fs::create_directory(dir.path() / "out");
    writeFile(dir / "out/keep.txt", "mine");
    std::uint32_t count = 0;
    EXPECT_EQ(extractFile(dir / "a.zip", dir / "out", count), Status::WriteFailed);
    EXPECT_EQ(readTree(dir.path() / "out"), (Tree{{"keep.txt", "mine"}}));
    EXPECT_EQ(count, 0u);
}

TEST(ReaderTarget, DuplicateEntryIsNotOverwrittenAndNothingStays) {
    TempDir dir;
    ASSERT_EQ(run("python3 -W ignore -c 'import zipfile,sys\n"
                  "z = zipfile.ZipFile(sys.argv[1], \"w\")\n"
                  "z.writestr(\"same.txt\", \"first\"); z.writestr(\"same.txt\", \"second\"); z.close()' " +
                  quoted(dir / "dup.zip")),
              0);
    std::uint32_t count = 0;
    EXPECT_EQ(extractFile(dir / "dup.zip", dir / "out", count), Status::WriteFailed);
    EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

}  // namespace
}  // namespace ziptest
