#include "agent/handlers/AgentSettings.h"

#include <exception>

#include "agent/QxAgent.h"
#include "agent/Settings.h"
#include "common/err/Errors.h"

namespace {

constexpr const char* kSource = "AgentSettings";

void LogSetFailure(CQXAgent& agent, const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const sys::RegistryError& e) {
        agent.Log(1, "%s:%d CSetAgentSettings::HandleMessage() - %s", kSource, 54, e.Message());
    } catch (...) {
        agent.Log(0, "%s:%d CSetAgentSettings::HandleMessage() - Unknown Settings error", kSource,
                  59);
    }
}

}  // namespace

int CGetAgentSettings::HandleMessage(CQXAgent& agent, msg::IQXMessage* message) {
    agent.Log(1, "%s:%d CGetAgentSettings::HandleMessage() - Handling message", kSource, 8);
    if (!message) {
        return 0;
    }
    try {
        agent.Log(1, "%s:%d CGetAgentSettings::HandleMessage() - Getting settings object", kSource,
                  14);
        const CSettings settings;
        agent.Log(2,
                  "%s:%d CGetAgentSettings::HandleMessage() - About to get settings, message = %s",
                  kSource, 19, message->BuildText());
        settings.GetSettings(message);
    } catch (const sys::RegistryError& e) {
        agent.Log(1, "%s:%d CGetAgentSettings::HandleMessage() - %s", kSource, 24, e.Message());
        return 1;
    } catch (...) {
        agent.Log(1, "%s:%d CGetAgentSettings::HandleMessage() - Unknown Settings error", kSource,
                  29);
        return 1;
    }
    return 0;
}

int CSetAgentSettings::HandleMessage(CQXAgent& agent, msg::IQXMessage* message) {
    agent.Log(1, "%s:%d CSetAgentSettings::HandleMessage() - Handling message", kSource, 38);
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
        agent.Log(1, "%s:%d CSetAgentSettings::HandleMessage() - Getting settings object", kSource,
                  44);
        const CSettings settings;
        agent.Log(2,
                  "%s:%d CSetAgentSettings::HandleMessage() - About to set settings, message = %s",
                  kSource, 49, message->BuildText());
        settings.SetSettings(message, onFailure);
    } catch (...) {
        onFailure(std::current_exception());
    }
    return result;
}
