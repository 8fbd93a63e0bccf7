// Strict base64 (the standard alphabet): whitespace between characters is skipped, padding is
// optional but only at the end, and nothing else is accepted: a text that is not wholly valid
// decodes to nothing rather than to a part of itself.
#pragma once

#include <string>
#include <vector>

namespace base64 {

bool Decode(const std::string& text, std::vector<unsigned char>& bytes);

}  // namespace base64
