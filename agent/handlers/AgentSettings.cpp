#include "agent/handlers/AgentSettings.h"

#include <exception>

#include "agent/handlers/AgentCommands.h"
#include "agent/store/Settings.h"
#include "common/err/Errors.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "AgentSettings";

// The lines each settings handler logs, fixed so that administrators' log filters keep
// matching.
struct HandlerLines {
    int handling;
    int settingsObject;
    int aboutToApply;
    int registryError;
    int unknownError;
};
constexpr HandlerLines kGetLines{8, 14, 19, 24, 29};
constexpr HandlerLines kSetLines{38, 44, 49, 54, 59};

void LogSetFailure(IAgentCommands& agent, const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const sys::RegistryError& e) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kSetLines.registryError,
                      "CSetAgentSettings::HandleMessage() - %s", e.Message());
    } catch (...) {
        WARDEX_LOG_AT(agent, LogLevel::Error, kSetLines.unknownError,
                      "CSetAgentSettings::HandleMessage() - Unknown Settings error");
    }
}

}  // namespace

int CGetAgentSettings::HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) {
    WARDEX_LOG_AT(agent, LogLevel::Information, kGetLines.handling,
                  "CGetAgentSettings::HandleMessage() - Handling message");
    if (!message) {
        return 0;
    }
    try {
        WARDEX_LOG_AT(agent, LogLevel::Information, kGetLines.settingsObject,
                      "CGetAgentSettings::HandleMessage() - Getting settings object");
        const CSettings settings;
        WARDEX_LOG_AT(agent, LogLevel::Debug, kGetLines.aboutToApply,
                      "CGetAgentSettings::HandleMessage() - About to get settings, message = %s",
                      message->BuildText());
        settings.GetSettings(message);
    } catch (const sys::RegistryError& e) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kGetLines.registryError,
                      "CGetAgentSettings::HandleMessage() - %s", e.Message());
        return 1;
    } catch (...) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kGetLines.unknownError,
                      "CGetAgentSettings::HandleMessage() - Unknown Settings error");
        return 1;
    }
    return 0;
}

int CSetAgentSettings::HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) {
    WARDEX_LOG_AT(agent, LogLevel::Information, kSetLines.handling,
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
        WARDEX_LOG_AT(agent, LogLevel::Information, kSetLines.settingsObject,
                      "CSetAgentSettings::HandleMessage() - Getting settings object");
        const CSettings settings;
        WARDEX_LOG_AT(agent, LogLevel::Debug, kSetLines.aboutToApply,
                      "CSetAgentSettings::HandleMessage() - About to set settings, message = %s",
                      message->BuildText());
        settings.SetSettings(message, onFailure);
    } catch (...) {
        onFailure(std::current_exception());
    }
    return result;
}
