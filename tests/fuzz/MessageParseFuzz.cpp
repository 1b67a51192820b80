// Hands arbitrary bytes to every way a message is parsed. The bytes come without a zero
// byte after them, so a parser that reads past the length it was given is caught by
// AddressSanitizer. Whatever is parsed must leave a message that still builds its text and
// parses that text again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/msg/QXMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = std::make_unique<char[]>(size);
    std::copy(data, data + size, bytes.get());
    const std::string text(bytes.get(), size);

    msg::CQXMessage message;
    message.Parse(bytes.get(), static_cast<int>(size));
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
