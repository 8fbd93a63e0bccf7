// Archives our writer produces, checked by unzip, by Python's zipfile and by our own reader.
#include "posix_zip_io.h"
#include "zip_test_support.h"
#include "crc32.h"

#include <zlib.h>
#include "zipbytes.h"

#include <fcntl.h>
#include <unistd.h>

namespace ziptest {
namespace {

using zipcore::Status;

struct RoundTripCase {
    const char* label;
    std::string fileName;
    std::string content;
    int expectedMethod;  // stored when deflate cannot shrink the data
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.label; }

// What Python's zipfile reports about the only entry of `archive` after comparing it with
// `original`; fails the test when zipfile disagrees.
std::string zipfileReport(const std::string& archive, const std::string& original, const std::string& name) {
    std::string report;
    EXPECT_EQ(run("python3 " + quoted(zipToolsScript()) + " check " + quoted(archive) + " " + quoted(original) + " " +
                      quoted(name),
                  &report),
              0)
        << report;
    return report;
}

void expectReadableByAll(const TempDir& dir, const std::string& archive, const std::string& original,
                         const std::string& name, int expectedMethod, bool utf8Name) {
    EXPECT_EQ(run("unzip -tq " + quoted(archive) + " >/dev/null 2>&1"), 0) << "unzip -t rejects " << archive;
    const std::string report = zipfileReport(archive, original, name);
    EXPECT_NE(report.find("method=" + std::to_string(expectedMethod) + " "), std::string::npos) << report;
    const bool flagged = (std::stoi(report.substr(report.find("flags=") + 6)) & zipcore::kFlagUtf8Name) != 0;
    EXPECT_EQ(flagged, utf8Name);

    std::uint32_t count = 0;
    const std::string out = dir / "out";
    ASSERT_EQ(extractFile(archive, out, count), Status::Ok);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(readTree(out), (Tree{{name, readFile(original)}}));
}

class WriterRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(WriterRoundTrip, ArchiveHoldsTheFileUnderItsName) {
    const RoundTripCase& c = GetParam();
    TempDir dir;
    const std::string source = dir / c.fileName;
    const std::string archive = dir / "packed.zip";
    writeFile(source, c.content);
    ASSERT_EQ(packFile(source, archive, ""), Status::Ok);
    bool ascii = true;
    for (unsigned char ch : c.fileName) ascii = ascii && ch < 0x80;
    expectReadableByAll(dir, archive, source, c.fileName, c.expectedMethod, !ascii);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, WriterRoundTrip,
    ::testing::Values(RoundTripCase{"empty", "empty.txt", "", 0}, RoundTripCase{"one_byte", "one", "x", 0},
                      RoundTripCase{"small_text", "small.txt", "hello, archive\n", 0},
                      RoundTripCase{"forty", "forty.bin", std::string(40, 'a'), 8},
                      RoundTripCase{"forty_one", "forty-one.bin", std::string(41, 'a'), 8},
                      RoundTripCase{"forty_random", "r40.bin", randomBytes(40, 1), 0},
                      RoundTripCase{"forty_one_random", "r41.bin", randomBytes(41, 2), 0},
                      RoundTripCase{"incompressible", "noise.bin", randomBytes(300 * 1024, 3), 0},
                      RoundTripCase{"incompressible_on_all_cores", "noise5.bin", randomBytes(5 << 20, 4), 0},
                      RoundTripCase{"text_over_blocks", "text.txt", textBytes(3 * 1024 * 1024 + 17), 8},
                      // One thread: the level goes to stored for the noise and back.
                      RoundTripCase{"noise_between_text", "between.bin",
                                    textBytes(1 << 20) + randomBytes(1 << 20, 6) + textBytes(1 << 19), 8},
                      // The noise goes in as stored blocks, the last of them ending the stream.
                      RoundTripCase{"text_then_noise_on_all_cores", "tail.bin",
                                    textBytes(3 << 20) + randomBytes((2 << 20) + 5, 5), 8},
                      RoundTripCase{"non_ascii_name", "\xe4\xb8\xad\xe6\x96\x87.txt", textBytes(5000), 8}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.label); });

TEST(WriterLargeFile, HundredMegabytesOfMixedDataRoundTrip) {
    TempDir dir;
    const std::string source = dir / "mixed.bin";
    const std::size_t half = 50 * 1024 * 1024;
    writeFile(source, randomBytes(half, 7) + textBytes(half));
    const std::string archive = dir / "mixed.zip";
    ASSERT_EQ(packFile(source, archive, ""), Status::Ok);
    EXPECT_LT(fs::file_size(archive), fs::file_size(source));
    expectReadableByAll(dir, archive, source, "mixed.bin", 8, false);
    // Deflated in blocks on all cores, yet within 1 % of one stream by zip -6.
    const std::string reference = dir / "reference.zip";
    ASSERT_EQ(run("cd " + quoted(dir.path().string()) + " && zip -6 -q " + quoted(reference) + " mixed.bin"), 0);
    EXPECT_LE(static_cast<double>(fs::file_size(archive)), 1.01 * static_cast<double>(fs::file_size(reference)));
}

// Noise that repeats within deflate's reach looks uniform byte by byte, yet deflates: it must not
// be taken for incompressible data.
TEST(WriterLargeFile, NoiseRepeatedWithinTheWindowIsStillDeflated) {
    TempDir dir;
    const std::string source = dir / "repeated.bin";
    std::string content;
    const std::string chunk = randomBytes(16 * 1024, 9);
    while (content.size() < (6u << 20)) content += chunk;
    writeFile(source, content);
    const std::string archive = dir / "repeated.zip";
    ASSERT_EQ(packFile(source, archive, ""), Status::Ok);
    EXPECT_LT(fs::file_size(archive), content.size() / 20);
    EXPECT_EQ(run("unzip -tq " + quoted(archive) + " >/dev/null 2>&1"), 0);
}

// 4 GiB - 1 zero bytes (a sparse file): the sizes only fit Zip64 fields.
TEST(WriterLargeFile, FourGibMinusOneNeedsZip64) {
    TempDir dir;
    const std::string source = dir / "zeros.bin";
    {
        const int fd = open(source.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 0xFFFFFFFFll), 0);
        close(fd);
    }
    const std::string archive = dir / "zeros.zip";
    ASSERT_EQ(packFile(source, archive, ""), Status::Ok);
    EXPECT_EQ(run("unzip -tq " + quoted(archive) + " >/dev/null 2>&1"), 0);
    zipfileReport(archive, source, "zeros.bin");
    const std::string bytes = readFile(archive);
    ASSERT_GT(bytes.size(), zipcore::kLocalHeaderSize);
    const auto* header = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(zipcore::readLe32(header + 22), zipcore::kNeedsZip64);  // uncompressed size, local header
    EXPECT_EQ(zipcore::readLe16(header + 30 + 9), zipcore::kZip64ExtraId);
    EXPECT_EQ(zipcore::readLe64(header + 30 + 9 + 4), 0xFFFFFFFFull);
}

// ---- writer against sources that misbehave ---------------------------------------------------

class MemorySource : public zipcore::RewindableSource {
public:
    explicit MemorySource(std::string data) : data_(std::move(data)) {}
    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) override {
        if (failAfter_ == 0) return false;
        --failAfter_;
        got = std::min(capacity, data_.size() - position_);
        std::copy_n(data_.data() + position_, got, buffer);
        position_ += got;
        return true;
    }
    bool rewind() override {
        position_ = 0;
        return true;
    }
    void failAfterReads(int reads) { failAfter_ = reads; }

private:
    std::string data_;
    std::size_t position_ = 0;
    int failAfter_ = -1;
};

class MemorySink : public zipcore::ArchiveSink {
public:
    bool append(const std::uint8_t* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return bytes.size() <= capacity;
    }
    bool overwriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t length) override {
        if (offset + length > bytes.size()) return false;
        std::copy_n(data, length, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
        return true;
    }
    bool truncateTo(std::uint64_t offset) override {
        bytes.resize(offset);
        return true;
    }
    std::vector<std::uint8_t> bytes;
    std::size_t capacity = SIZE_MAX;
};

zipcore::NewEntry entryFor(std::uint64_t announcedSize) {
    zipcore::NewEntry entry;
    entry.storedName = "data.bin";
    entry.size = announcedSize;
    return entry;
}

// The table-driven CRC-32 of the core (what the WebAssembly module carries instead of zlib) gives
// zlib's value for any length and any way of splitting the stream.
TEST(Crc32, EqualsZlibForEveryLengthAndSplit) {
    const std::string data = randomBytes(300, 11);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t length = 0; length <= data.size(); ++length) {
        const std::uint32_t expected = static_cast<std::uint32_t>(crc32(0, bytes, static_cast<uInt>(length)));
        ASSERT_EQ(crc::Crc32(0, bytes, length), expected) << length;
        const std::size_t split = length / 3;
        ASSERT_EQ(crc::Crc32(crc::Crc32(0, bytes, split), bytes + split, length - split), expected) << length;
    }
}

TEST(WriterFailures, SourceThatGrowsOrShrinksIsRefused) {
    for (const std::size_t size : {std::size_t{100000}, std::size_t{9} << 20}) {  // one thread, all cores
        const std::string text = textBytes(size);
        for (std::uint64_t announced : {text.size() - 1, text.size() + 1, std::uint64_t{10}}) {
            MemorySource source(text);
            MemorySink sink;
            EXPECT_EQ(zipcore::writeSingleEntryArchive(source, entryFor(announced), sink), Status::SourceChanged)
                << "announced " << announced;
        }
    }
}

// On one thread and on all cores (where the blocks in flight are finished before the call returns).
TEST(WriterFailures, ReadAndWriteErrorsAreReported) {
    for (const std::size_t size : {std::size_t{2} << 20, std::size_t{9} << 20}) {
        const std::string text = textBytes(size);
        MemorySource failingSource(text);
        failingSource.failAfterReads(5);
        MemorySink sink;
        EXPECT_EQ(zipcore::writeSingleEntryArchive(failingSource, entryFor(text.size()), sink), Status::ReadFailed)
            << size;

        MemorySource source(text);
        MemorySink fullSink;
        fullSink.capacity = 200000;
        EXPECT_EQ(zipcore::writeSingleEntryArchive(source, entryFor(text.size()), fullSink), Status::WriteFailed)
            << size;
    }
}

TEST(WriterFailures, EmptyNameIsRefused) {
    MemorySource source("abc");
    MemorySink sink;
    zipcore::NewEntry entry = entryFor(3);
    entry.storedName.clear();
    EXPECT_EQ(zipcore::writeSingleEntryArchive(source, entry, sink), Status::UnsafeName);
}

// Falling back to storing must not leave the abandoned deflate output in the archive.
TEST(WriterFailures, StoredFallbackLeavesNoDeflateBytesBehind) {
    TempDir dir;
    const std::string source = dir / "noise.bin";
    writeFile(source, randomBytes(1024 * 1024 + 3, 11));
    const std::string archive = dir / "noise.zip";
    ASSERT_EQ(packFile(source, archive, ""), Status::Ok);
    const std::uint64_t overhead =
        zipcore::kLocalHeaderSize + zipcore::kCentralHeaderSize + zipcore::kEndRecordSize + 2 * std::string("noise.bin").size();
    EXPECT_EQ(fs::file_size(archive), fs::file_size(source) + overhead);
    EXPECT_EQ(run("unzip -tq " + quoted(archive) + " >/dev/null 2>&1"), 0);
}

}  // namespace
}  // namespace ziptest
