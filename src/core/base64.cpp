#include "base64.h"

namespace base64 {

bool Decoder::Feed(const char* text, std::size_t length, std::vector<unsigned char>& out) {
    for (std::size_t i = 0; i < length && !failed_; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsBlank(c)) continue;
        if (c == '=') {
            ++padding_;
            continue;
        }
        const int value = ValueOf(c);
        if (value < 0 || padding_ != 0) {  // a foreign character, or data after the padding
            failed_ = true;
            break;
        }
        accumulator_ = (accumulator_ << 6) | static_cast<unsigned int>(value);
        if (++digits_ % 4 == 0) {
            out.push_back(static_cast<unsigned char>(accumulator_ >> 16));
            out.push_back(static_cast<unsigned char>(accumulator_ >> 8));
            out.push_back(static_cast<unsigned char>(accumulator_));
            accumulator_ = 0;
        }
    }
    return !failed_;
}

bool Decoder::Finish(std::vector<unsigned char>& out) {
    const std::size_t rest = digits_ % 4;
    // One digit alone holds no whole byte; padding must fill exactly the last group.
    if (failed_ || rest == 1 || padding_ > 2 || (padding_ != 0 && rest + padding_ != 4)) {
        failed_ = true;
        return false;
    }
    if (rest == 2) out.push_back(static_cast<unsigned char>(accumulator_ >> 4));
    if (rest == 3) {
        out.push_back(static_cast<unsigned char>(accumulator_ >> 10));
        out.push_back(static_cast<unsigned char>(accumulator_ >> 2));
    }
    return true;
}

bool Decode(const std::string& text, std::vector<unsigned char>& bytes) {
    bytes.clear();
    Decoder decoder;
    if (decoder.Feed(text.data(), text.size(), bytes) && decoder.Finish(bytes)) return true;
    bytes.clear();
    return false;
}

}  // namespace base64
