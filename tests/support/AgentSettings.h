#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "agent/store/Settings.h"
#include "common/err/Errors.h"

// The agent's settings and log as the tests that run an agent set and read them, wherever
// the settings live (a relocated root, the platform's settings sandbox).
namespace testsupport {

inline void StoreSettings(const std::map<std::string, std::string>& settings) {
    for (const auto& [name, value] : settings) {
        CSettings().SetSetting(name, value);
    }
}

// Every level logged to the file, and the agent pointed at the port on 127.0.0.1.
inline void StoreLoggingAgent(const std::string& logPath, const std::string& port) {
    StoreSettings({{"LogFile", logPath},
                   {"LogErrors", "1"},
                   {"LogInformation", "1"},
                   {"LogDebug", "1"},
                   {"LogSize", "10000000"},
                   {"TcpAddr", "127.0.0.1"},
                   {"TcpPort", port}});
}

// The stored value, or "<none>" when the setting is not stored.
inline std::string StoredSetting(const std::string& name) {
    try {
        std::string value;
        CSettings().GetSetting(name, value);
        return value;
    } catch (const err::CGeneralError&) {
        return "<none>";
    }
}

// How often the text occurs in the log's text.
inline std::size_t CountIn(const std::string& log, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace testsupport
