#pragma once

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

namespace tbx {

// "Internal"/"CreateSession": sends the server "Request"="CreateSession" with the client id,
// the host name, the agent version, the operating-system facts, the logged-on users and the
// agent's task state.
void RequestSession(IAgentAPI& agent);

// "Reply"="CreateSession": a "Result" holding "Success" opened the session (the agent has
// already switched the connection to TLS); any other result closes the connection, so that
// the agent tries again later.
void AcceptSessionReply(const msg::IQXMessage& reply, IAgentAPI& agent);

// "Internal"/"Ping": sends "Request"="KeepAlive" so that the server sees the agent is there.
void SendKeepAlive(IAgentAPI& agent);

// "Internal"/"CheckUsers": fills the message in place with "Users" (comma-separated) and
// "User-Count"; the agent sends it on to the server.
void FillLoggedOnUsers(msg::IQXMessage& message);

// "Request"="CloseSession" from the server: closes the connection; "Shutdown"="Yes" also
// tells the agent not to reconnect.
void CloseOnRequest(const msg::IQXMessage& request, IAgentAPI& agent);

}  // namespace tbx
