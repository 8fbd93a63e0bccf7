#include "hex.h"

namespace hex {

void Write(char* text, const unsigned char* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < length; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
}

std::string Upper(const unsigned char* bytes, std::size_t length) {
    std::string text(2 * length, '0');
    if (length != 0) Write(&text[0], bytes, length);
    return text;
}

}  // namespace hex
