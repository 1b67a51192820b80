#pragma once

// Marks a function that takes a printf format and its arguments, so that the compiler checks
// them against each other: CORVANE_PRINTF_FORMAT(<format's position>, <first argument's>).
// The check follows the printf that formats the text. A C library that names the kind of
// its own printf (mingw-w64's, whose C99 printf takes "%zu" and "%lld", unlike the
// system's older one) is taken at its word; elsewhere it is the compiler's printf.

#include <cstdio>

#if defined(__MINGW_PRINTF_FORMAT)
#define CORVANE_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#else
#define CORVANE_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif
