#include "agent/handlers/AgentCloseSession.h"

#include <cstring>

#include "agent/handlers/AgentCommands.h"

int CAgentCloseSession::HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) {
    const bool shutdown = message && std::strcmp(message->GetField("Shutdown"), "Yes") == 0;
    agent.CloseConnection(shutdown ? IAgentCommands::kCloseForGood : IAgentCommands::kCloseSession);
    return 0;
}
