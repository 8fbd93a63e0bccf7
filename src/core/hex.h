// Upper-case hex text of bytes, two digits a byte, most significant digit first.
#pragma once

#include <cstddef>
#include <string>

namespace hex {

// Writes 2 * length digits to text (no NUL).
void Write(char* text, const unsigned char* bytes, std::size_t length);
std::string Upper(const unsigned char* bytes, std::size_t length);
inline std::string Upper(unsigned char byte) { return Upper(&byte, 1); }

}  // namespace hex
