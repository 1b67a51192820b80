#pragma once

#include "agent/handlers/AgentMessageHandler.h"

// Switches the server connection to TLS. A failure is logged and leaves the connection on
// its plain transport.
class CAgentEncryptSession final : public CAgentMessageHandler {
public:
    int HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) override;
};
