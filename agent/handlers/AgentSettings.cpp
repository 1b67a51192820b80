#include "agent/handlers/AgentSettings.h"

#include <exception>

#include "agent/QxAgent.h"
#include "agent/Settings.h"
#include "common/err/Errors.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "AgentSettings";

// The lines the settings handlers log, fixed so that administrators' log filters keep
// matching.
constexpr int kLineGetHandling = 8;
constexpr int kLineGetSettingsObject = 14;
constexpr int kLineGetAboutToGet = 19;
constexpr int kLineGetRegistryError = 24;
constexpr int kLineGetUnknownError = 29;
constexpr int kLineSetHandling = 38;
constexpr int kLineSetSettingsObject = 44;
constexpr int kLineSetAboutToSet = 49;
constexpr int kLineSetRegistryError = 54;
constexpr int kLineSetUnknownError = 59;

void LogSetFailure(CQXAgent& agent, const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const sys::RegistryError& e) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kLineSetRegistryError,
                      "CSetAgentSettings::HandleMessage() - %s", e.Message());
    } catch (...) {
        WARDEX_LOG_AT(agent, LogLevel::Error, kLineSetUnknownError,
                      "CSetAgentSettings::HandleMessage() - Unknown Settings error");
    }
}

}  // namespace

int CGetAgentSettings::HandleMessage(CQXAgent& agent, msg::IQXMessage* message) {
    WARDEX_LOG_AT(agent, LogLevel::Information, kLineGetHandling,
                  "CGetAgentSettings::HandleMessage() - Handling message");
    if (!message) {
        return 0;
    }
    try {
        WARDEX_LOG_AT(agent, LogLevel::Information, kLineGetSettingsObject,
                      "CGetAgentSettings::HandleMessage() - Getting settings object");
        const CSettings settings;
        WARDEX_LOG_AT(agent, LogLevel::Debug, kLineGetAboutToGet,
                      "CGetAgentSettings::HandleMessage() - About to get settings, message = %s",
                      message->BuildText());
        settings.GetSettings(message);
    } catch (const sys::RegistryError& e) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kLineGetRegistryError,
                      "CGetAgentSettings::HandleMessage() - %s", e.Message());
        return 1;
    } catch (...) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kLineGetUnknownError,
                      "CGetAgentSettings::HandleMessage() - Unknown Settings error");
        return 1;
    }
    return 0;
}

int CSetAgentSettings::HandleMessage(CQXAgent& agent, msg::IQXMessage* message) {
    WARDEX_LOG_AT(agent, LogLevel::Information, kLineSetHandling,
                  "CSetAgentSettings::HandleMessage() - Handling message");
    if (!message) {
        return 0;
    }
    // One field that cannot be stored costs none of the others: each failure is logged and
    // the rest are still tried.
    int result = 0;
    const auto onFailure = [&](const std::exception_ptr& failure) {
        result = 1;
        LogSetFailure(agent, failure);
    };
    try {
        WARDEX_LOG_AT(agent, LogLevel::Information, kLineSetSettingsObject,
                      "CSetAgentSettings::HandleMessage() - Getting settings object");
        const CSettings settings;
        WARDEX_LOG_AT(agent, LogLevel::Debug, kLineSetAboutToSet,
                      "CSetAgentSettings::HandleMessage() - About to set settings, message = %s",
                      message->BuildText());
        settings.SetSettings(message, onFailure);
    } catch (...) {
        onFailure(std::current_exception());
    }
    return result;
}
