#pragma once

#include <corvane/PrintfFormat.h>

namespace util {

// Whether the program runs in one of its console modes. The console modes switch it on at
// start; the service never does. Trace lines meant for a developer watching the console go
// through ConsolePrintf, so a service writes none of them.
void SetConsoleMode(bool on);
bool IsConsoleMode();

// printf to standard output, flushed at once, in console mode only.
void ConsolePrintf(const char* format, ...) CORVANE_PRINTF_FORMAT(1, 2);

}  // namespace util
