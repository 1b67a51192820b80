#include "agent/handlers/StateHandlers.h"

#include "agent/engine/QxAgent.h"

int CGetStateHandler::HandleMessage(CQXAgent& agent, msg::IQXMessage* message) {
    if (message) {
        agent.GetAgentState().GetInto(*message);
    }
    return 0;
}

int CSetStateHandler::HandleMessage(CQXAgent& agent, msg::IQXMessage* message) {
    if (message) {
        agent.GetAgentState().SetFrom(*message);
    }
    return 0;
}
