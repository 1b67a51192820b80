#include "common/sys/windows/SystemMessage.h"

#include <windows.h>

namespace sys::win {

std::string SystemMessage(std::uint32_t code) {
    char text[512] = {};
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) {
        --length;
    }
    const std::string number = "(error " + std::to_string(code) + ")";
    return length == 0 ? number : std::string(text, length) + " " + number;
}

}  // namespace sys::win
