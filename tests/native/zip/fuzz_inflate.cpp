// libFuzzer target of the core's inflater: any input, either method, any bound, in pieces of any
// size, must end with a verdict, never past the bound.
#include "inflate.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class Input : public rawinflate::InflateInput {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    long read(std::uint8_t* buffer, std::size_t capacity) override {
        std::size_t n = size_ - pos_ < capacity ? size_ - pos_ : capacity;
        if (n > 333) n = 333;  // pieces that end anywhere in a block
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<long>(n);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_, pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool deflate64 = data[0] & 1;
    const std::size_t piece = 1 + (data[1] | (data[0] & 0xF0) << 4);
    const std::uint64_t bound = static_cast<std::uint64_t>(data[2]) << 12;
    Input input(data + 3, size - 3);
    rawinflate::Inflater inflater(input, deflate64, bound);
    std::vector<std::uint8_t> out(piece);
    std::uint64_t total = 0;
    rawinflate::Result r;
    do {
        std::size_t got = 0;
        r = inflater.read(out.data(), out.size(), got);
        if (got > out.size()) std::abort();
        total += got;
        if (total > bound) std::abort();
    } while (r == rawinflate::Result::More);
    return 0;
}
