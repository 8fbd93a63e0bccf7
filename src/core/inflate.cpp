#include "inflate.h"

#include <cstring>
#include <vector>

namespace rawinflate {
namespace {

constexpr std::size_t kWindowSize = 65536;  // Deflate64's farthest distance; deflate's 32 KiB fits too
constexpr std::uint32_t kWindowMask = kWindowSize - 1;
constexpr std::size_t kInputSize = 32768;
constexpr int kMaxCodeBits = 15;

const std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const std::uint32_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                         49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                         2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const std::uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
                                         7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
const std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code as one lookup table indexed by the next `bits` input bits (least
// significant first): each slot holds symbol << 4 | code length, 0 for a slot no code reaches.
struct Code {
    std::vector<std::uint16_t> table;
    int bits = 0;
};

enum class Kind { CodeLengths, Literals, Distances };

// False for a set of lengths that is not a prefix code: over-subscribed, or incomplete where the
// format does not allow it (only a lone one-bit code may leave room; distances may be all unused).
bool buildCode(const std::uint8_t* lengths, int count, Kind kind, Code& code) {
    int perLength[kMaxCodeBits + 1] = {};
    for (int i = 0; i < count; ++i) ++perLength[lengths[i]];
    int longest = 0;
    for (int len = kMaxCodeBits; len > 0; --len)
        if (perLength[len]) { longest = len; break; }
    if (longest == 0) {
        if (kind != Kind::Distances) return false;
        code.bits = 1;
        code.table.assign(2, 0);
        return true;
    }
    int left = 1;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        left = (left << 1) - perLength[len];
        if (left < 0) return false;
    }
    if (left > 0 && (kind == Kind::CodeLengths || longest != 1)) return false;

    // next[len]: the first code of that length.
    int next[kMaxCodeBits + 1] = {};
    perLength[0] = 0;
    for (int len = 1, c = 0; len <= kMaxCodeBits; ++len) {
        c = (c + perLength[len - 1]) << 1;
        next[len] = c;
    }
    code.bits = longest;
    code.table.assign(std::size_t(1) << longest, 0);
    for (int symbol = 0; symbol < count; ++symbol) {
        const int len = lengths[symbol];
        if (len == 0) continue;
        int c = next[len]++;
        int reversed = 0;
        for (int i = 0; i < len; ++i, c >>= 1) reversed = (reversed << 1) | (c & 1);
        const std::uint16_t slot = static_cast<std::uint16_t>(symbol << 4 | len);
        for (std::size_t i = reversed; i < code.table.size(); i += std::size_t(1) << len) code.table[i] = slot;
    }
    return true;
}

}  // namespace

const char* describe(Result result) {
    switch (result) {
    case Result::More: return "more";
    case Result::Done: return "done";
    case Result::BadData: return "invalid deflate data";
    case Result::TooLong: return "more data than declared";
    case Result::Truncated: return "deflate data cut short";
    case Result::ReadFailed: return "read failed";
    }
    return "unknown";
}

struct Inflater::State {
    enum class Mode { Header, Stored, Codes, Done, Failed };

    InflateInput& input;
    const bool deflate64;
    const std::uint64_t bound;

    std::uint8_t in[kInputSize];
    std::size_t inPos = 0, inEnd = 0;
    std::uint64_t inTotal = 0;
    bool inEnded = false, inFailed = false;
    std::uint64_t bitBuffer = 0;
    int bitCount = 0;

    std::uint8_t window[kWindowSize];
    std::uint32_t windowPos = 0;
    std::uint64_t total = 0;

    Mode mode = Mode::Header;
    Result failure = Result::BadData;
    bool lastBlock = false;
    std::uint32_t storedLeft = 0;
    std::uint32_t copyLeft = 0, copyDistance = 0;
    Code literals, distances;

    State(InflateInput& i, bool d64, std::uint64_t b) : input(i), deflate64(d64), bound(b) {}

    bool fetch() {
        if (inEnded) return false;
        const long n = input.read(in, sizeof in);
        if (n <= 0) {
            inEnded = true;
            inFailed = n < 0;
            return false;
        }
        inPos = 0;
        inEnd = static_cast<std::size_t>(n);
        inTotal += static_cast<std::uint64_t>(n);
        return true;
    }
    void refill() {
        while (bitCount <= 56) {
            if (inPos == inEnd && !fetch()) return;
            bitBuffer |= static_cast<std::uint64_t>(in[inPos++]) << bitCount;
            bitCount += 8;
        }
    }
    Result shortInput() const { return inFailed ? Result::ReadFailed : Result::Truncated; }
    bool fail(Result r) {
        mode = Mode::Failed;
        failure = r;
        return false;
    }
    // The next `n` (<= 32) bits; false (failed) when the input ends first.
    bool bits(int n, std::uint32_t& value) {
        if (bitCount < n) refill();
        if (bitCount < n) return fail(shortInput());
        value = static_cast<std::uint32_t>(bitBuffer & ((std::uint64_t(1) << n) - 1));
        bitBuffer >>= n;
        bitCount -= n;
        return true;
    }
    bool decode(const Code& code, int& symbol) {
        if (bitCount < code.bits) refill();
        const std::uint16_t slot = code.table[bitBuffer & ((std::uint64_t(1) << code.bits) - 1)];
        const int len = slot & 15;
        if (len == 0) return fail(Result::BadData);
        if (len > bitCount) return fail(shortInput());
        bitBuffer >>= len;
        bitCount -= len;
        symbol = slot >> 4;
        return true;
    }

    bool fixedCodes() {
        std::uint8_t lengths[288 + 32];
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        std::memset(lengths + 288, 5, 32);
        return buildCode(lengths, 288, Kind::Literals, literals) &&
               buildCode(lengths + 288, 32, Kind::Distances, distances);
    }

    bool dynamicCodes() {
        std::uint32_t hlit, hdist, hclen;
        if (!bits(5, hlit) || !bits(5, hdist) || !bits(4, hclen)) return false;
        const int literalCount = static_cast<int>(hlit) + 257, distanceCount = static_cast<int>(hdist) + 1;
        if (literalCount > 286 || distanceCount > (deflate64 ? 32 : 30)) return fail(Result::BadData);
        std::uint8_t lengths[19] = {};
        for (std::uint32_t i = 0; i < hclen + 4; ++i) {
            std::uint32_t v;
            if (!bits(3, v)) return false;
            lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(v);
        }
        Code lengthCode;
        if (!buildCode(lengths, 19, Kind::CodeLengths, lengthCode)) return fail(Result::BadData);
        std::uint8_t all[286 + 32] = {};
        const int wanted = literalCount + distanceCount;
        for (int n = 0; n < wanted;) {
            int symbol;
            if (!decode(lengthCode, symbol)) return false;
            if (symbol < 16) {
                all[n++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
            std::uint32_t repeat;
            std::uint8_t value = 0;
            if (symbol == 16) {
                if (n == 0) return fail(Result::BadData);
                value = all[n - 1];
                if (!bits(2, repeat)) return false;
                repeat += 3;
            } else if (symbol == 17) {
                if (!bits(3, repeat)) return false;
                repeat += 3;
            } else {
                if (!bits(7, repeat)) return false;
                repeat += 11;
            }
            if (n + static_cast<int>(repeat) > wanted) return fail(Result::BadData);
            std::memset(all + n, value, repeat);
            n += static_cast<int>(repeat);
        }
        if (all[256] == 0) return fail(Result::BadData);
        if (!buildCode(all, literalCount, Kind::Literals, literals) ||
            !buildCode(all + literalCount, distanceCount, Kind::Distances, distances))
            return fail(Result::BadData);
        return true;
    }

    bool blockHeader() {
        if (lastBlock) {
            mode = Mode::Done;
            return true;
        }
        std::uint32_t last, type;
        if (!bits(1, last) || !bits(2, type)) return false;
        lastBlock = last != 0;
        if (type == 0) {
            const int drop = bitCount & 7;
            bitBuffer >>= drop;
            bitCount -= drop;
            std::uint32_t length, inverse;
            if (!bits(16, length) || !bits(16, inverse)) return false;
            if ((length ^ 0xFFFF) != inverse) return fail(Result::BadData);
            storedLeft = length;
            mode = Mode::Stored;
            return true;
        }
        if (type == 3) return fail(Result::BadData);
        if (!(type == 1 ? fixedCodes() : dynamicCodes())) return mode == Mode::Failed ? false : fail(Result::BadData);
        mode = Mode::Codes;
        return true;
    }

    void put(std::uint8_t byte, std::uint8_t* out, std::size_t& produced) {
        window[windowPos] = byte;
        windowPos = (windowPos + 1) & kWindowMask;
        out[produced++] = byte;
        ++total;
    }

    Result run(std::uint8_t* out, std::size_t capacity, std::size_t& produced) {
        produced = 0;
        while (true) {
            if (mode == Mode::Failed) return failure;
            if (mode == Mode::Done) return Result::Done;
            if (copyLeft) {
                std::size_t n = capacity - produced;
                if (n == 0) return Result::More;
                if (n > copyLeft) n = copyLeft;
                copyLeft -= static_cast<std::uint32_t>(n);
                std::uint32_t from = (windowPos - copyDistance) & kWindowMask;
                while (n--) {
                    put(window[from], out, produced);
                    from = (from + 1) & kWindowMask;
                }
                continue;
            }
            if (produced == capacity && mode != Mode::Header) return Result::More;
            if (mode == Mode::Header) {
                if (!blockHeader()) return failure;
                continue;
            }
            if (mode == Mode::Stored) {
                if (storedLeft == 0) {
                    mode = Mode::Header;
                    continue;
                }
                if (total + storedLeft > bound) {
                    fail(Result::TooLong);
                    continue;
                }
                while (storedLeft && produced < capacity && bitCount >= 8) {
                    put(static_cast<std::uint8_t>(bitBuffer), out, produced);
                    bitBuffer >>= 8;
                    bitCount -= 8;
                    --storedLeft;
                }
                while (storedLeft && produced < capacity) {
                    if (inPos == inEnd && !fetch()) {
                        fail(shortInput());
                        break;
                    }
                    put(in[inPos++], out, produced);
                    --storedLeft;
                }
                continue;
            }
            // Codes
            int symbol;
            if (!decode(literals, symbol)) continue;
            if (symbol < 256) {
                if (total >= bound) {
                    fail(Result::TooLong);
                    continue;
                }
                put(static_cast<std::uint8_t>(symbol), out, produced);
                continue;
            }
            if (symbol == 256) {
                mode = Mode::Header;
                continue;
            }
            symbol -= 257;
            if (symbol >= 29) {
                fail(Result::BadData);
                continue;
            }
            std::uint32_t extra = 0, length;
            if (symbol == 28 && deflate64) {
                if (!bits(16, extra)) continue;
                length = 3 + extra;
            } else {
                if (kLengthExtra[symbol] && !bits(kLengthExtra[symbol], extra)) continue;
                length = kLengthBase[symbol] + extra;
            }
            int distanceSymbol;
            if (!decode(distances, distanceSymbol)) continue;
            if (distanceSymbol >= (deflate64 ? 32 : 30)) {
                fail(Result::BadData);
                continue;
            }
            extra = 0;
            if (kDistanceExtra[distanceSymbol] && !bits(kDistanceExtra[distanceSymbol], extra)) continue;
            const std::uint32_t distance = kDistanceBase[distanceSymbol] + extra;
            if (distance > total) {
                fail(Result::BadData);
                continue;
            }
            if (length > bound - total) {
                fail(Result::TooLong);
                continue;
            }
            copyLeft = length;
            copyDistance = distance;
        }
    }
};

Inflater::Inflater(InflateInput& input, bool deflate64, std::uint64_t bound)
    : state_(new State(input, deflate64, bound)) {}

Inflater::~Inflater() = default;

Result Inflater::read(std::uint8_t* out, std::size_t capacity, std::size_t& produced) {
    return state_->run(out, capacity, produced);
}

std::uint64_t Inflater::produced() const { return state_->total; }

std::uint64_t Inflater::consumed() const {
    const State& s = *state_;
    return s.inTotal - (s.inEnd - s.inPos) - static_cast<std::uint64_t>(s.bitCount / 8);
}

}  // namespace rawinflate
