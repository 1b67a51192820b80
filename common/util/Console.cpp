#include "common/util/Console.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace util {
namespace {

std::atomic<bool> consoleMode{false};

}  // namespace

void SetConsoleMode(bool on) {
    consoleMode.store(on);
}

bool IsConsoleMode() {
    return consoleMode.load();
}

void ConsolePrintf(const char* format, ...) {
    if (!IsConsoleMode()) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

}  // namespace util
