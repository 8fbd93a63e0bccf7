// Strict base64 (the standard alphabet): whitespace between characters is skipped, padding is
// optional but only at the end, and nothing else is accepted: a text that is not wholly valid
// decodes to nothing rather than to a part of itself.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace base64 {

// The value of one character of the alphabet, -1 for any other.
inline int ValueOf(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// The blanks allowed between characters.
inline bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The decoder over a text given in pieces (a long text can be read a part at a time): Feed each
// piece, then Finish. Feed returns false, and the decoder stays failed, at the first character the
// rules refuse; Finish tells whether the text as a whole was valid and writes the last bytes.
class Decoder {
public:
    // Appends the bytes of whole groups to out.
    bool Feed(const char* text, std::size_t length, std::vector<unsigned char>& out);
    bool Finish(std::vector<unsigned char>& out);

private:
    unsigned int accumulator_ = 0;
    std::size_t digits_ = 0, padding_ = 0;
    bool failed_ = false;
};

bool Decode(const std::string& text, std::vector<unsigned char>& bytes);

}  // namespace base64
