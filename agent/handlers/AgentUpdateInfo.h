#pragma once

#include "agent/handlers/AgentMessageHandler.h"

// Adds the agent's own file to the message's list of auto-update entries:
// Auto-Update-Current<n> and Auto-Update-Pattern<n>, then Auto-Update-Count = n + 1.
class AgentUpdateInfo final : public CAgentMessageHandler {
public:
    int HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) override;
};
