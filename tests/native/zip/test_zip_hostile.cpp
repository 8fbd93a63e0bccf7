// Archives that must be refused: each one fails with the right reason and leaves nothing behind,
// neither in the destination nor beside it.
#include "posix_zip_io.h"
#include "zip_test_support.h"

#include <fstream>

namespace ziptest {
namespace {

using zipcore::Status;

struct HostileCase {
    std::string name;
    std::string expected;  // zipcore::describe() of the status it must fail with
};

class HostileCorpus {
public:
    HostileCorpus() {
        if (run("python3 " + quoted(zipToolsScript()) + " hostile " + quoted(dir_.path().string())) != 0)
            throw std::runtime_error("cannot build the hostile corpus");
        std::ifstream listing(dir_ / "cases.txt");
        std::string line;
        while (std::getline(listing, line)) {
            const std::size_t tab = line.find('\t');
            cases_.push_back({line.substr(0, tab), line.substr(tab + 1)});
        }
    }
    const std::vector<HostileCase>& cases() const { return cases_; }
    std::string archive(const std::string& name) const { return dir_ / (name + ".zip"); }

private:
    TempDir dir_;
    std::vector<HostileCase> cases_;
};

// Extracts into a fresh parent directory; the parent must be empty afterwards.
void expectRefusedWithoutTrace(const std::string& archive, const std::string& expected,
                               const zipcore::Limits& limits = zipcore::defaultLimits()) {
    TempDir parent;
    std::uint32_t count = 12345;
    const Status status = extractFile(archive, parent / "out", count, limits);
    EXPECT_EQ(std::string(zipcore::describe(status)), expected);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(isEmptyDirectory(parent.path())) << "left behind: " << readTree(parent.path()).size() << " items";
}

TEST(HostileArchives, EveryCaseIsRefusedAndLeavesNothing) {
    const HostileCorpus corpus;
    ASSERT_GE(corpus.cases().size(), 30u);
    for (const HostileCase& c : corpus.cases()) {
        SCOPED_TRACE(c.name);
        expectRefusedWithoutTrace(corpus.archive(c.name), c.expected);
    }
}

// Inspection (what the WebAssembly module does instead of unpacking) refuses every hostile archive
// for the same reason extraction does, unless the reason lies in the entry data it does not inflate.
TEST(HostileArchives, InspectionRefusesForTheSameReasonShortOfInflating) {
    const HostileCorpus corpus;
    for (const HostileCase& c : corpus.cases()) {
        SCOPED_TRACE(c.name);
        std::vector<zipcore::PathParts> files;
        const std::string inspected = zipcore::describe(inspectFile(corpus.archive(c.name), files));
        if (inspected == "ok")
            EXPECT_TRUE(c.expected == "corrupt entry data" || c.expected == "CRC mismatch" ||
                        c.expected == "size mismatch" || c.expected == "too large")
                << "passed inspection but extraction says " << c.expected;
        else
            EXPECT_EQ(inspected, c.expected);
    }
}

// Built with zip_tools.py helpers inline: two good deflated entries.
std::string twoEntryArchive(const TempDir& dir) {
    const std::string archive = dir / "two.zip";
    EXPECT_EQ(run("python3 -c 'import zipfile,sys\n"
                  "z = zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED)\n"
                  "z.writestr(\"a/first.txt\", \"first \" * 300); z.writestr(\"second.txt\", \"second \" * 300)\n"
                  "z.close()' " +
                  quoted(archive)),
              0);
    return archive;
}

TEST(HostileArchives, EveryTruncationFailsWithoutTrace) {
    TempDir dir;
    const std::string whole = readFile(twoEntryArchive(dir));
    for (std::size_t length = 0; length < whole.size(); length += 7) {
        SCOPED_TRACE(length);
        const std::string cut = dir / "cut.zip";
        writeFile(cut, whole.substr(0, length));
        TempDir parent;
        std::uint32_t count = 0;
        EXPECT_NE(extractFile(cut, parent / "out", count), Status::Ok);
        EXPECT_TRUE(isEmptyDirectory(parent.path()));
    }
}

TEST(HostileArchives, EveryFlippedByteEitherExtractsOrLeavesNothing) {
    TempDir dir;
    const std::string whole = readFile(twoEntryArchive(dir));
    for (std::size_t at = 0; at < whole.size(); ++at) {
        std::string damaged = whole;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        const std::string path = dir / "damaged.zip";
        writeFile(path, damaged);
        TempDir parent;
        std::uint32_t count = 0;
        if (extractFile(path, parent / "out", count) == Status::Ok) {
            EXPECT_EQ(count, 2u) << "byte " << at;
        } else {
            EXPECT_TRUE(isEmptyDirectory(parent.path())) << "byte " << at;
        }
    }
}

// The bounds are enforced on what is really there, at exactly the configured values.
TEST(ExtractionBounds, EntryCountBoundIsInclusive) {
    TempDir dir;
    const std::string archive = twoEntryArchive(dir);
    std::uint32_t count = 0;
    TempDir atLimit;
    EXPECT_EQ(extractFile(archive, atLimit / "out", count, zipcore::Limits{2, 1 << 20}), Status::Ok);
    EXPECT_EQ(count, 2u);
    expectRefusedWithoutTrace(archive, "too many entries", zipcore::Limits{1, 1 << 20});
}

TEST(ExtractionBounds, InflatedBytesBoundCountsAllEntries) {
    TempDir dir;
    const std::string archive = twoEntryArchive(dir);
    const std::uint64_t total = 6 * 300 + 7 * 300;
    std::uint32_t count = 0;
    TempDir atLimit;
    EXPECT_EQ(extractFile(archive, atLimit / "out", count, zipcore::Limits{10, total}), Status::Ok);
    expectRefusedWithoutTrace(archive, "too large", zipcore::Limits{10, total - 1});
}

}  // namespace
}  // namespace ziptest
