#include "common/util/StringUtils.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace util {

std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = FormatV(format, arguments);
    va_end(arguments);
    return text;
}

std::string FormatV(const char* format, va_list arguments) {
    if (!format) {
        return {};
    }
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    return text;
}

std::string ToUpper(const std::string& text) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

int CompareNoCase(const std::string& a, const std::string& b) {
    const int order = ToUpper(a).compare(ToUpper(b));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void StripQuotes(std::string& text) {
    if (text.empty()) {
        return;
    }
    if (text.front() == '"') {
        text.erase(0, 1);
    }
    if (!text.empty() && text.back() == '"') {
        text.pop_back();
    }
}

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

}  // namespace util
