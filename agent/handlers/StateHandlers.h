#pragma once

#include "agent/handlers/AgentMessageHandler.h"

// The commands on the agent's task state.
class CStateHandler : public CAgentMessageHandler {};

// Fills the message from the state: the fields it names when "State" is "Specific",
// otherwise every stored value in place of its content.
class CGetStateHandler final : public CStateHandler {
public:
    int HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) override;
};

// Stores the message's fields in the state.
class CSetStateHandler final : public CStateHandler {
public:
    int HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) override;
};

// Accepted for servers that send it; the state is kept as it is.
class CClearStateHandler final : public CStateHandler {
public:
    int HandleMessage(IAgentCommands&, msg::IQXMessage*) override { return 0; }
};
