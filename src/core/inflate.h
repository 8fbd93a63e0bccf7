// Raw deflate (zip method 8) and Deflate64 (method 9) decoding, a piece at a time, that never
// produces more than the caller's bound. No compression library: the WebAssembly module and the
// page's reader use it where the platform has no inflater for the method (Deflate64 nowhere has).
//
// The compressed bytes are pulled from an InflateInput as needed; the decoded bytes are handed
// out in pieces of the caller's size, so memory stays at one window (64 KiB) whatever the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace rawinflate {

enum class Result {
    More,       // the piece is full; more output may follow
    Done,       // the stream ended (its last block is complete)
    BadData,    // not a valid stream
    TooLong,    // the stream would produce more than the bound
    Truncated,  // the input ended inside the stream
    ReadFailed  // the input reported an error
};

const char* describe(Result result);

class InflateInput {
public:
    virtual ~InflateInput() = default;
    // Fills up to `capacity` bytes: the count, 0 at the end of the input, negative on error.
    virtual long read(std::uint8_t* buffer, std::size_t capacity) = 0;
};

class Inflater {
public:
    // `deflate64`: method 9's window, length and distance codes. `bound`: the most bytes the stream
    // may produce; one more is TooLong.
    Inflater(InflateInput& input, bool deflate64, std::uint64_t bound);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Decodes up to `capacity` bytes into `out`; `produced` says how many. More: the piece is full.
    // Done: the stream ended with this piece. Anything else is final, as is Done.
    Result read(std::uint8_t* out, std::size_t capacity, std::size_t& produced);

    std::uint64_t produced() const;
    // Compressed bytes the stream used (exact once Done).
    std::uint64_t consumed() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace rawinflate
