#include "agent/store/SettingsInputFile.h"

#include <fstream>

#include "agent/log/AgentLog.h"
#include "common/err/Errors.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "bootstrap";
// Logging is best effort here: a log file that cannot be written must not end a run.
constexpr logging::CBestEffortLog kBestEffortLog;

// A line a person could have written: no control bytes but tabs.
bool IsTextLine(const std::string& line) {
    for (const unsigned char c : line) {
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string ReadSettingsLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        throw CAgentError(kSource, "Error opening .inp file.", __LINE__, 2, err::LastSystemError());
    }
    std::string kept;
    unsigned number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line.front() == ';' || line.find('=') == std::string::npos) {
            continue;
        }
        if (line.size() > kLongestSettingsLine) {
            WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                       "- line %u of %s is longer than %zu bytes, skipped.", number, path.c_str(),
                       kLongestSettingsLine);
        } else if (!IsTextLine(line)) {
            WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                       "- line %u of %s holds binary bytes, skipped.", number, path.c_str());
        } else {
            kept += line + "\n";
        }
    }
    return kept;
}
