#include "agent/handlers/StateHandlers.h"

#include "agent/handlers/AgentCommands.h"
#include "agent/store/AgentState.h"

int CGetStateHandler::HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) {
    if (message) {
        agent.GetAgentState().GetInto(*message);
    }
    return 0;
}

int CSetStateHandler::HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) {
    if (message) {
        agent.GetAgentState().SetFrom(*message);
    }
    return 0;
}
