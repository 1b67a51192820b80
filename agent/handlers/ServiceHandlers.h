#pragma once

#include "agent/handlers/AgentMessageHandler.h"

// Service commands a server may send. The agent accepts them and leaves the service as it
// is: stopping and restarting belong to the service manager.
class CAgentServiceHandler : public CAgentMessageHandler {
public:
    int HandleMessage(IAgentCommands&, msg::IQXMessage*) override { return 0; }
};

class CStopServiceHandler final : public CAgentServiceHandler {};
class CRestartServiceHandler final : public CAgentServiceHandler {};
