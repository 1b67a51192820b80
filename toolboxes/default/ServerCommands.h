#pragma once

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

namespace tbx {

// True for "Request"=<command> where <command> is one of the agent's built-in commands that
// the server may run: "GetAgentSettings", "SetAgentSettings", "GetState", "SetState",
// "ClearState", "AgentUpdateInfo".
bool IsServerCommand(const msg::IQXMessage& request);

// Runs the built-in command on a copy of the request and sends the copy back as
// "Reply"=<command> with "Result"="Success" (or "BadCommand" when the agent has no such
// command): the fields the command filled in travel with it.
void RunServerCommand(const msg::IQXMessage& request, IAgentAPI& agent);

}  // namespace tbx
