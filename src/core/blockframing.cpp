#include "blockframing.h"

#include <cstring>

namespace digest {

void BlockFraming::Update(std::uint32_t state[8], CompressFn compress, const void* data, std::size_t length) {
    if (length == 0) return;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    total_ += length;
    if (used_ != 0) {
        std::size_t take = kBlockSize - used_;
        if (take > length) take = length;
        std::memcpy(buf_ + used_, p, take);
        used_ += take;
        p += take;
        length -= take;
        if (used_ < kBlockSize) return;
        compress(state, buf_, 1);
        used_ = 0;
    }
    const std::size_t blocks = length / kBlockSize;
    if (blocks != 0) {
        compress(state, p, blocks);
        p += blocks * kBlockSize;
        length -= blocks * kBlockSize;
    }
    if (length != 0) {
        std::memcpy(buf_, p, length);
        used_ = length;
    }
}

void BlockFraming::Finish(std::uint32_t state[8], CompressFn compress, unsigned char digest[32]) {
    const std::uint64_t bits = total_ * 8;
    buf_[used_++] = 0x80;
    if (used_ > kBlockSize - 8) {
        std::memset(buf_ + used_, 0, kBlockSize - used_);
        compress(state, buf_, 1);
        used_ = 0;
    }
    std::memset(buf_ + used_, 0, kBlockSize - 8 - used_);
    StoreBe64(buf_ + kBlockSize - 8, bits);
    compress(state, buf_, 1);
    for (int i = 0; i < 8; ++i) StoreBe32(digest + 4 * i, state[i]);
}

void BlockFraming::Save(unsigned char* out) const {
    StoreLe64(out, total_);
    std::memcpy(out + 8, buf_, used_);
    std::memset(out + 8 + used_, 0, kBlockSize - used_);
}

bool BlockFraming::Load(const unsigned char* in) {
    const std::uint64_t total = LoadLe64(in);
    if (total >> 61 != 0) return false;
    const std::size_t used = static_cast<std::size_t>(total % kBlockSize);
    for (std::size_t i = used; i < kBlockSize; ++i)
        if (in[8 + i] != 0) return false;
    total_ = total;
    used_ = used;
    std::memcpy(buf_, in + 8, used);
    return true;
}

}  // namespace digest
