#include "agent/handlers/AgentCloseSession.h"

#include <cstring>

#include "agent/engine/QxAgent.h"

int CAgentCloseSession::HandleMessage(CQXAgent& agent, msg::IQXMessage* message) {
    const bool shutdown = message && std::strcmp(message->GetField("Shutdown"), "Yes") == 0;
    agent.CloseConnection(shutdown ? CQXAgent::kCloseForGood : CQXAgent::kCloseSession);
    return 0;
}
