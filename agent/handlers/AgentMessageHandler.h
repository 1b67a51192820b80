#pragma once

#include <corvane/IQXMessage.h>

class IAgentCommands;

// One of the agent's own commands. A handler works on the message in place: it reads its
// arguments from the message's fields and leaves its results there; the caller decides
// what becomes of the message. No handler sends anything itself.
class CAgentMessageHandler {
public:
    virtual ~CAgentMessageHandler() = default;
    // 0, or 1 after a failure the handler caught and logged.
    virtual int HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) = 0;
};
