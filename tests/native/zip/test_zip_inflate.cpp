// The core's own inflater against zlib (deflate at every level, every block type, window edges)
// and against 7z writing Deflate64; its bound, and streams cut short or damaged. Then the reading
// of whole archives the page uses (ziplisting.h): 7z's and Info-ZIP's, with data prepended, and
// the same archives patched into the faults the listing must refuse.
#include "inflate.h"
#include "zip_test_support.h"
#include "zipbytes.h"
#include "ziplisting.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <cstring>

namespace ziptest {
namespace {

using rawinflate::Result;

class BytesInput : public rawinflate::InflateInput {
public:
    explicit BytesInput(const std::string& bytes, std::size_t piece = 4096) : bytes_(bytes), piece_(piece) {}
    long read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, piece_, bytes_.size() - pos_});
        std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        return static_cast<long>(n);
    }

private:
    const std::string& bytes_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

std::string rawDeflate(const std::string& data, int level, int strategy = Z_DEFAULT_STRATEGY, int windowBits = 15) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -windowBits, 8, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Inflated {
    Result result;
    std::string bytes;
    std::uint64_t consumed;
};

Inflated inflateAll(const std::string& compressed, bool deflate64, std::uint64_t bound, std::size_t piece = 65536,
                    std::size_t inputPiece = 4096) {
    BytesInput input(compressed, inputPiece);
    rawinflate::Inflater inflater(input, deflate64, bound);
    std::string out;
    std::vector<std::uint8_t> buffer(piece);
    Result r;
    do {
        std::size_t got = 0;
        r = inflater.read(buffer.data(), buffer.size(), got);
        out.append(reinterpret_cast<char*>(buffer.data()), got);
    } while (r == Result::More);
    return {r, out, inflater.consumed()};
}

// Data with matches at every distance up to a full 32 KiB window and beyond it.
std::string windowEdges() {
    std::string block = randomBytes(32768, 7);
    std::string data = block + block + block.substr(0, 1000);
    data += randomBytes(1, 8) + block.substr(1);
    data += std::string(70000, 'a');
    return data;
}

TEST(Inflate, MatchesZlibAtEveryLevelAndBlockType) {
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"empty", ""}, {"one byte", "x"}, {"text", textBytes(300000)}, {"random", randomBytes(200000, 3)},
        {"window edges", windowEdges()}};
    for (const auto& [label, data] : inputs) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
                SCOPED_TRACE(label + " level " + std::to_string(level) + " strategy " + std::to_string(strategy));
                const std::string compressed = rawDeflate(data, level, strategy);
                const Inflated got = inflateAll(compressed, false, data.size(), 1 + level * 7919);
                ASSERT_EQ(got.result, Result::Done);
                ASSERT_TRUE(got.bytes == data);
                EXPECT_EQ(got.consumed, compressed.size());
            }
        }
    }
}

TEST(Inflate, PiecesOfAnySizeAndOneByteReadsGiveTheSameBytes) {
    const std::string data = textBytes(100000) + randomBytes(5000, 4);
    const std::string compressed = rawDeflate(data, 6, Z_DEFAULT_STRATEGY, 9);
    for (std::size_t piece : {1u, 3u, 258u, 65536u}) {
        const Inflated got = inflateAll(compressed, false, data.size(), piece, piece == 1 ? 1 : 4096);
        ASSERT_EQ(got.result, Result::Done);
        EXPECT_TRUE(got.bytes == data) << piece;
    }
}

TEST(Inflate, NeverProducesMoreThanTheBound) {
    const std::string data(1u << 20, 'z');  // long matches
    const std::string compressed = rawDeflate(data, 9);
    const Inflated got = inflateAll(compressed, false, data.size() - 1);
    EXPECT_EQ(got.result, Result::TooLong);
    EXPECT_LE(got.bytes.size(), data.size() - 1);
    const std::string stored = rawDeflate(textBytes(1000), 0);
    EXPECT_EQ(inflateAll(stored, false, 999).result, Result::TooLong);
}

// Streams written bit by bit: fields least significant bit first, Huffman codes most significant first.
struct BitWriter {
    std::vector<int> bits;
    BitWriter& put(std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) bits.push_back((v >> i) & 1);
        return *this;
    }
    BitWriter& code(std::uint32_t c, int n) {
        for (int i = n - 1; i >= 0; --i) bits.push_back((c >> i) & 1);
        return *this;
    }
    // Fixed-code symbols.
    BitWriter& literal(int symbol) { return symbol < 144 ? code(0x30 + symbol, 8) : code(0x190 + symbol - 144, 9); }
    BitWriter& length(int symbol) { return symbol < 280 ? code(symbol - 256, 7) : code(0xC0 + symbol - 280, 8); }
    BitWriter& fixedBlockHeader() { return put(1, 1).put(1, 2); }
    std::string bytes() const {
        std::string out((bits.size() + 7) / 8, '\0');
        for (std::size_t i = 0; i < bits.size(); ++i) out[i / 8] = static_cast<char>(out[i / 8] | (bits[i] << (i % 8)));
        return out;
    }
};

TEST(Inflate, DamagedAndShortStreamsFailCleanly) {
    const std::string data = textBytes(50000);
    const std::string compressed = rawDeflate(data, 6);
    EXPECT_EQ(inflateAll(compressed.substr(0, compressed.size() / 2), false, data.size()).result, Result::Truncated);
    EXPECT_EQ(inflateAll("", false, 10).result, Result::Truncated);
    EXPECT_EQ(inflateAll(std::string("\x07", 1), false, 10).result, Result::BadData);  // block type 3
    // A stored block whose length and its complement disagree.
    EXPECT_EQ(inflateAll(std::string("\x01\x05\x00\x00\x00", 5), false, 10).result, Result::BadData);
    // A match reaching before the first byte.
    const std::string tooFar = BitWriter().fixedBlockHeader().literal('a').length(257).code(1, 5).length(256).bytes();
    EXPECT_EQ(inflateAll(tooFar, false, 10).result, Result::BadData);
    const std::string near = BitWriter().fixedBlockHeader().literal('a').length(257).code(0, 5).length(256).bytes();
    EXPECT_EQ(inflateAll(near, false, 10).bytes, "aaaa");
    // Deflate64's distance codes 30 and 31 are invalid in deflate.
    BitWriter farDistance;
    farDistance.fixedBlockHeader();
    for (int i = 0; i < 40000; ++i) farDistance.literal('a' + i % 26);  // past distance 32769
    const std::string code30 = farDistance.length(257).code(30, 5).put(0, 14).length(256).bytes();
    EXPECT_EQ(inflateAll(code30, false, 50000).result, Result::BadData);
}

// zlib's verdict on damaged input: the bytes of a stream it completes, or none.
bool zlibInflate(const std::string& compressed, std::string& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    out.assign(1 << 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    const int r = ::inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

TEST(Inflate, AgreesWithZlibOnDamagedStreams) {
    const std::string valid = rawDeflate(textBytes(3000) + randomBytes(300, 9), 6);
    std::uint32_t seed = 1;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    int completed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string input = valid;
        if (i % 2) {
            input = randomBytes(1 + next() % 64, next());
        } else {
            for (int k = 0; k < 1 + i % 4; ++k) input[next() % input.size()] ^= static_cast<char>(1 + next() % 255);
        }
        std::string expected;
        const bool zlibDone = zlibInflate(input, expected);
        const Inflated got = inflateAll(input, false, 1 << 16, 4096);
        ASSERT_EQ(got.result == Result::Done, zlibDone) << "case " << i;
        if (zlibDone) {
            ++completed;
            ASSERT_TRUE(got.bytes == expected) << "case " << i;
        }
    }
    EXPECT_GT(completed, 100);
}

// 7z's Deflate64, read back from a one-entry archive (its local header carries the sizes).
std::string deflate64Of(const std::string& data, const TempDir& dir, const std::string& name) {
    writeFile(dir / name, data);
    const std::string archive = dir / (name + ".zip");
    if (run("cd " + quoted(dir.path().string()) + " && 7z a -tzip -mm=Deflate64 -mx=9 " + quoted(archive) + " " +
            quoted(name) + " > /dev/null") != 0)
        throw std::runtime_error("7z failed");
    const std::string zip = readFile(archive);
    const auto* header = reinterpret_cast<const std::uint8_t*>(zip.data());
    if (zipcore::readLe16(header + 8) != 9) throw std::runtime_error("7z did not write Deflate64");
    const std::size_t start = 30 + zipcore::readLe16(header + 26) + zipcore::readLe16(header + 28);
    return zip.substr(start, zipcore::readLe32(header + 18));
}

TEST(Inflate, ReadsDeflate64As7zWritesIt) {
    TempDir dir;
    // Repeats 40000 bytes apart: only Deflate64's 64 KiB window reaches them.
    const std::string far = randomBytes(40000, 11);
    std::string sixteenSymbols = randomBytes(300000, 5);  // random, yet compressible (7z stores what is not)
    for (char& c : sixteenSymbols) c = static_cast<char>('A' + (c & 15));
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"text", textBytes(1000000)}, {"random", sixteenSymbols}, {"far", far + far + far + far},
        {"runs", std::string(500000, 'q') + textBytes(1000)}};
    for (const auto& [label, data] : inputs) {
        SCOPED_TRACE(label);
        const std::string compressed = deflate64Of(data, dir, label);
        const Inflated got = inflateAll(compressed, true, data.size(), 65521);
        ASSERT_EQ(got.result, Result::Done);
        EXPECT_TRUE(got.bytes == data);
        if (label == "far") EXPECT_LT(compressed.size(), data.size() / 2);  // the far matches were used
    }
}

TEST(Inflate, Deflate64LongLengthCode) {
    // Fixed block: literal 'a', length code 285 with 16 extra bits (65535: 65538 bytes) at distance 1.
    const std::string stream =
        BitWriter().fixedBlockHeader().literal('a').length(285).put(65535, 16).code(0, 5).length(256).bytes();
    const Inflated got = inflateAll(stream, true, 65539);
    ASSERT_EQ(got.result, Result::Done);
    EXPECT_TRUE(got.bytes == std::string(65539, 'a'));
    // In deflate the same code means 258 bytes, and the extra bits are read as what follows.
    EXPECT_NE(inflateAll(stream, false, 65539).bytes.size(), 65539u);
}

class MemorySource : public zipcore::RandomAccessSource {
public:
    explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
        std::memcpy(buffer, bytes_.data() + offset, length);
        return true;
    }

private:
    const std::string& bytes_;
};

// Every entry's contents by the page's path: listed, checked, located, inflated or copied.
std::map<std::string, std::string> readAll(const std::string& zip, zipcore::Listing& listing) {
    MemorySource source(zip);
    std::map<std::string, std::string> out;
    const zipcore::ReadStatus listed = zipcore::listArchive(source, listing);
    if (listed != zipcore::ReadStatus::Ok) throw std::runtime_error(zipcore::readStatusCode(listed));
    for (const zipcore::ListedEntry& entry : listing.entries) {
        std::uint64_t offset = 0;
        zipcore::ReadStatus status = zipcore::checkReadable(entry.central);
        if (status == zipcore::ReadStatus::Ok) status = zipcore::locateEntry(source, entry, offset);
        if (status != zipcore::ReadStatus::Ok) throw std::runtime_error(zipcore::readStatusCode(status));
        const std::string compressed = zip.substr(offset, entry.central.compressedSize);
        if (entry.central.method == zipcore::kMethodStored) {
            out[entry.central.name] = compressed;
            continue;
        }
        const Inflated got = inflateAll(compressed, entry.central.method == zipcore::kMethodDeflate64, entry.central.size);
        if (got.result != Result::Done) throw std::runtime_error(rawinflate::describe(got.result));
        out[entry.central.name] = got.bytes;
    }
    return out;
}

struct ToolArchives {
    TempDir dir;
    std::map<std::string, std::string> files{{"a.txt", textBytes(200000)}, {"b.bin", randomBytes(5000, 21)}, {"c.txt", "short"}};
    std::string sevenZip, infoZip;
    ToolArchives() {
        for (const auto& [name, data] : files) writeFile(dir / name, data);
        const std::string in = "cd " + quoted(dir.path().string()) + " && ";
        if (run(in + "7z a -tzip -mm=Deflate64 d64.zip a.txt b.bin c.txt > /dev/null") != 0 ||
            run(in + "zip -q -X iz.zip a.txt b.bin c.txt") != 0)
            throw std::runtime_error("7z or zip failed");
        sevenZip = readFile(dir / "d64.zip");
        infoZip = readFile(dir / "iz.zip");
    }
};

TEST(Listing, ReadsWhat7zAndInfoZipWriteAlsoBehindPrependedBytes) {
    const ToolArchives tools;
    for (const auto& [label, zip] : {std::pair<std::string, std::string>{"7z", tools.sevenZip}, {"zip", tools.infoZip}}) {
        SCOPED_TRACE(label);
        zipcore::Listing listing;
        EXPECT_EQ(readAll(zip, listing), tools.files);
        EXPECT_EQ(listing.prepended, 0u);
        // A stub before the archive, offsets left as they were (as `cat stub a.zip` makes).
        const std::string stub = randomBytes(12345, 3);
        zipcore::Listing shifted;
        EXPECT_EQ(readAll(stub + zip, shifted), tools.files);
        EXPECT_EQ(shifted.prepended, stub.size());
    }
}

// The offset of the n-th central record, and of the end record.
std::size_t centralRecord(const std::string& zip, int n) {
    std::size_t at = zip.rfind("PK\x05\x06");
    at = zipcore::readLe32(reinterpret_cast<const std::uint8_t*>(zip.data()) + at + 16);
    for (int i = 0; i < n; ++i) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(zip.data()) + at;
        at += 46 + zipcore::readLe16(p + 28) + zipcore::readLe16(p + 30) + zipcore::readLe16(p + 32);
    }
    return at;
}
void put32(std::string& zip, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) zip[at + i] = static_cast<char>(v >> (8 * i));
}

TEST(Listing, RefusesEachFaultWithItsOwnCode) {
    const ToolArchives tools;
    const std::string& good = tools.infoZip;
    const std::size_t end = good.rfind("PK\x05\x06");
    auto failure = [](const std::string& zip) {
        zipcore::Listing listing;
        try {
            readAll(zip, listing);
            return std::string("ok");
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
    };
    EXPECT_EQ(failure(good), "ok");
    EXPECT_EQ(failure(good.substr(0, end)), "not-zip");
    std::string zip = tools.sevenZip;  // its records are long enough for four by their size alone
    const std::size_t end7 = zip.rfind("PK\x05\x06");
    zip[end7 + 8] = 2;  // two entries on this disk, three in all
    EXPECT_EQ(failure(zip), "bad-archive");
    zip[end7 + 8] = zip[end7 + 10] = 4;  // four, and four on this disk: more entries than records
    EXPECT_EQ(failure(zip), "bad-archive");
    zip = good;
    zip[end + 8] = zip[end + 10] = 2;  // fewer entries than records
    EXPECT_EQ(failure(zip), "bad-archive");
    zip = good;
    put32(zip, centralRecord(zip, 1) + 42, 0);  // the second entry's local header is the first's
    EXPECT_EQ(failure(zip), "overlap");
    zip = good;
    const std::size_t second = zipcore::readLe32(reinterpret_cast<const std::uint8_t*>(zip.data()) + centralRecord(zip, 1) + 42);
    put32(zip, centralRecord(zip, 0) + 20, static_cast<std::uint32_t>(second));  // the first's data runs into the second
    EXPECT_EQ(failure(zip), "overlap");
    zip = good;
    zip[30] = 'X';  // the first local header's name
    EXPECT_EQ(failure(zip), "header-mismatch");
    zip = good;
    zip[8] = 0;  // its method: stored
    EXPECT_EQ(failure(zip), "header-mismatch");
    zip = good;
    put32(zip, 14, 0x12345678);  // its CRC
    EXPECT_EQ(failure(zip), "header-mismatch");
    zip = good;
    const std::size_t first = centralRecord(zip, 0);
    const std::uint32_t compressed = zipcore::readLe32(reinterpret_cast<const std::uint8_t*>(zip.data()) + first + 20);
    put32(zip, first + 24, compressed * 1032 + 1);  // more than deflate can make of it, in both headers
    put32(zip, 22, compressed * 1032 + 1);
    EXPECT_EQ(failure(zip), "impossible-size");
}

}  // namespace
}  // namespace ziptest
