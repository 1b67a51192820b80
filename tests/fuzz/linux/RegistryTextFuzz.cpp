// Reads arbitrary bytes as a settings store export (UTF-8 or UTF-16, either version). What
// reads must write back as a text that reads to the same store: writing it again gives the
// same text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/err/Errors.h"
#include "common/sys/linux/RegistryText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string written;
    try {
        written = sys::FormatRegistryText(
            sys::ParseRegistryText(std::string(reinterpret_cast<const char*>(data), size)));
    } catch (const sys::RegistryParseError&) {
        return 0;
    }
    if (sys::FormatRegistryText(sys::ParseRegistryText(written)) != written) {
        __builtin_trap();
    }
    return 0;
}
