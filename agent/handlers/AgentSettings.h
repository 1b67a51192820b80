#pragma once

#include "agent/handlers/AgentMessageHandler.h"

// Fills the message with stored settings: the fields it names when its "Settings" value is
// "Specified", otherwise every stored setting.
class CGetAgentSettings final : public CAgentMessageHandler {
public:
    int HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) override;
};

// Stores each of the message's fields that names a setting.
class CSetAgentSettings final : public CAgentMessageHandler {
public:
    int HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) override;
};
