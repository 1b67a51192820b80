#include "agent/handlers/AgentSettings.h"

#include "agent/QxAgent.h"
#include "agent/Settings.h"
#include "common/err/Errors.h"

namespace {

constexpr const char* kSource = "AgentSettings";

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
    try {
        agent.Log(1, "%s:%d CSetAgentSettings::HandleMessage() - Getting settings object", kSource,
                  44);
        const CSettings settings;
        agent.Log(2,
                  "%s:%d CSetAgentSettings::HandleMessage() - About to set settings, message = %s",
                  kSource, 49, message->BuildText());
        settings.SetSettings(message);
    } catch (const sys::RegistryError& e) {
        agent.Log(1, "%s:%d CSetAgentSettings::HandleMessage() - %s", kSource, 54, e.Message());
        return 1;
    } catch (...) {
        agent.Log(0, "%s:%d CSetAgentSettings::HandleMessage() - Unknown Settings error", kSource,
                  59);
        return 1;
    }
    return 0;
}
