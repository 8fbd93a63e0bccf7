// The framing SHA-256 and SM3 share: 64-byte blocks, whole blocks hashed straight from the
// caller's memory, a partial one kept, and the padding (0x80, zeros to 56 mod 64, the length in
// bits, big-endian) before the eight state words are written out big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace digest {

class BlockFraming {
public:
    static constexpr std::size_t kBlockSize = 64;
    using CompressFn = void (*)(std::uint32_t state[8], const unsigned char* blocks, std::size_t count);

    void Reset() {
        total_ = 0;
        used_ = 0;
    }
    void Update(std::uint32_t state[8], CompressFn compress, const void* data, std::size_t length);
    // Pads, compresses the tail and writes the 32-byte digest; Reset must follow before reuse.
    void Finish(std::uint32_t state[8], CompressFn compress, unsigned char digest[32]);
    // Bytes fed since the last Reset.
    std::uint64_t total() const { return total_; }

private:
    std::uint64_t total_ = 0;
    unsigned char buf_[kBlockSize];
    std::size_t used_ = 0;
};

}  // namespace digest
