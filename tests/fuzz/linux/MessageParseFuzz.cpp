// Hands arbitrary bytes to every way a message is parsed. The bytes are followed by the one
// zero byte that ends a text and nothing else, so a parser that reads past it is caught by
// AddressSanitizer. Whatever is parsed must leave a message that still builds its text and
// parses that text again.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/msg/QXMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> bytes(size + 1);  // the last one stays zero
    std::copy(data, data + size, bytes.begin());
    const std::string text(bytes.data(), size);

    msg::CQXMessage message;
    message.Parse(bytes.data(), static_cast<int>(size));
    // A line begun before a shorter length runs on to its end.
    message.Parse(bytes.data(), static_cast<int>(size / 2));
    message.ParseFields(text);
    message.Append(text);
    message.GetFieldInt("ab");
    message.GetFieldBool("ab");
    message.GetFieldDouble(text.c_str());

    msg::CQXMessage again;
    again.Assign(message.GetText());
    again.CopyFrom(message);
    if (again.GetTextLength() != message.GetTextLength()) {
        __builtin_trap();
    }
    return 0;
}
