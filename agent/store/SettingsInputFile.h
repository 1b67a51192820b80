#pragma once

#include <cstddef>
#include <string>

// The one-shot settings file "mireton.inp": "name=value" lines, ";" comments, LF or CRLF.
// A settings line longer than this is no setting anyone wrote by hand.
constexpr std::size_t kLongestSettingsLine = 64 * 1024;

// The kept lines of the file, each followed by "\n": not empty, not a comment, holding a
// "=", no longer than kLongestSettingsLine and without control bytes but tabs. Lines that
// cannot be settings are skipped with a line in the log, so one bad line does not cost the
// others. Raises CAgentError when the file cannot be opened.
std::string ReadSettingsLines(const std::string& path);
