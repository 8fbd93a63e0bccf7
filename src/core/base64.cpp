#include "base64.h"

namespace base64 {

bool Decode(const std::string& text, std::vector<unsigned char>& bytes) {
    bytes.clear();
    unsigned int accumulator = 0;
    std::size_t digits = 0, padding = 0;
    for (unsigned char c : text) {
        if (IsBlank(c)) continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = ValueOf(c);
        if (value < 0 || padding != 0) {  // a foreign character, or data after the padding
            bytes.clear();
            return false;
        }
        accumulator = (accumulator << 6) | static_cast<unsigned int>(value);
        if (++digits % 4 == 0) {
            bytes.push_back(static_cast<unsigned char>(accumulator >> 16));
            bytes.push_back(static_cast<unsigned char>(accumulator >> 8));
            bytes.push_back(static_cast<unsigned char>(accumulator));
            accumulator = 0;
        }
    }
    const std::size_t rest = digits % 4;
    // One digit alone holds no whole byte; padding must fill exactly the last group.
    if (rest == 1 || padding > 2 || (padding != 0 && rest + padding != 4)) {
        bytes.clear();
        return false;
    }
    if (rest == 2) bytes.push_back(static_cast<unsigned char>(accumulator >> 4));
    if (rest == 3) {
        bytes.push_back(static_cast<unsigned char>(accumulator >> 10));
        bytes.push_back(static_cast<unsigned char>(accumulator >> 2));
    }
    return true;
}

}  // namespace base64
