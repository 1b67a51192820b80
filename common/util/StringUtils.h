#pragma once

#include <cstdarg>
#include <string>

#include <corvane/PrintfFormat.h>

namespace util {

// printf-style formatting into a string of any length. A format that prints nothing (or a
// null format) gives the empty string.
std::string Format(const char* format, ...) CORVANE_PRINTF_FORMAT(1, 2);
std::string FormatV(const char* format, va_list arguments) CORVANE_PRINTF_FORMAT(1, 0);

std::string ToUpper(const std::string& text);
// Compares the upper-cased texts byte by byte: -1, 0 or 1.
int CompareNoCase(const std::string& a, const std::string& b);
// Removes one leading and then one trailing double quote.
void StripQuotes(std::string& text);
// True when the last character is "\" or "/".
bool EndsWithSeparator(const std::string& path);

}  // namespace util
