#pragma once

#include <string>
#include <string_view>

namespace sys {

// Text in the UTF-16 of Windows (little-endian) and back. A lone surrogate and a byte that
// starts no valid UTF-8 sequence each become U+FFFD; zero characters are kept.
std::string Utf16LeToUtf8(std::string_view bytes);
std::string Utf8ToUtf16Le(const std::string& text);

}  // namespace sys
