// The session toolbox: asks the server for a session, keeps it alive, answers the server's
// settings and state requests through the agent's built-in commands, reports the logged-on
// users and closes the session when the server asks. Every other message is passed on.

#include <exception>

#include <corvane/Toolbox.h>

#include "default/ServerCommands.h"
#include "default/Session.h"
#include "shared/OwnedMessage.h"

namespace {

void Version(int* major, int* minor, int* build) {
    *major = 1;
    *minor = 0;
    *build = 0;
}

// True when the message was one of this toolbox's.
bool Handle(msg::IQXMessage& message, IAgentAPI& agent) {
    if (tbx::HasLead(message, "Internal", "CreateSession")) {
        tbx::RequestSession(agent);
    } else if (tbx::HasLead(message, "Reply", "CreateSession")) {
        tbx::AcceptSessionReply(message, agent);
    } else if (tbx::HasLead(message, "Internal", "Ping")) {
        tbx::SendKeepAlive(agent);
    } else if (tbx::HasLead(message, "Internal", "CheckUsers")) {
        tbx::FillLoggedOnUsers(message);
    } else if (tbx::HasLead(message, "Request", "CloseSession")) {
        tbx::CloseOnRequest(message, agent);
    } else if (tbx::IsServerCommand(message)) {
        tbx::RunServerCommand(message, agent);
    } else {
        return false;
    }
    return true;
}

void LogFailure(const msg::IQXMessage& message, IAgentAPI& agent, const char* reason) {
    agent.Log(0, "%s:%d %s=%s failed: %s", "default", __LINE__, message.GetLeadName(),
              message.GetLeadValue(), reason);
}

// Nothing may leave a toolbox: an error of the agent's own family (not a std::exception)
// comes from a built-in command.
std::int32_t HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) {
    try {
        return Handle(*message, *agent) ? TBX_SUCCESS : TBX_NEXT_TOOLBOX;
    } catch (const std::exception& error) {
        LogFailure(*message, *agent, error.what());
    } catch (...) {
        LogFailure(*message, *agent, "the agent raised an error");
    }
    return TBX_FAILED;
}

const ToolboxAPI kTable = {TBX_API_VERSION, Version, HandleMessage};

}  // namespace

extern "C" const ToolboxAPI* GetToolboxAPI() {
    return &kTable;
}
