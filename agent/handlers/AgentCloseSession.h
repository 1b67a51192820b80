#pragma once

#include "agent/handlers/AgentMessageHandler.h"

// Closes the server connection, which ends the session; with "Shutdown" = "Yes" the agent
// also stops instead of connecting again.
class CAgentCloseSession final : public CAgentMessageHandler {
public:
    int HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) override;
};
