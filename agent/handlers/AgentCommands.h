#pragma once

#include <corvane/IAgentAPI.h>

class CAgentState;

// What the built-in commands need of the agent: the toolbox API (its log among it), the
// server connection and the agent's state. The agent implements it, so the handlers never
// depend on the engine that runs them.
class IAgentCommands : public IAgentAPI {
public:
    // The reasons CloseConnection is given.
    static constexpr int kCloseSession = 0;  // end this connection; the bootstrap reconnects
    static constexpr int kCloseForGood = 1;  // end it and stop the agent

    // Switches the connection to TLS; raises CAgentError and keeps the plain transport on
    // failure.
    virtual void EncryptSocket() = 0;
    // Ends the connection, plain or encrypted, so the input thread ends; kCloseForGood also
    // asks the bootstrap to stop.
    virtual void CloseConnection(int reason) = 0;
    virtual CAgentState& GetAgentState() = 0;
};
