#include "default/ServerCommands.h"

#include <array>
#include <string>
#include <string_view>

#include "shared/OwnedMessage.h"

namespace tbx {
namespace {

// Commands that change the connection ("EnableEncryption", "CloseSession") or the service
// ("StopService", "RestartService") are not for the server to call this way.
constexpr std::array<std::string_view, 6> kServerCommands = {"GetAgentSettings", "SetAgentSettings",
                                                             "GetState",         "SetState",
                                                             "ClearState",       "AgentUpdateInfo"};

}  // namespace

bool IsServerCommand(const msg::IQXMessage& request) {
    if (std::string_view(request.GetLeadName()) != "Request") {
        return false;
    }
    for (std::string_view command : kServerCommands) {
        if (command == request.GetLeadValue()) {
            return true;
        }
    }
    return false;
}

void RunServerCommand(const msg::IQXMessage& request, IAgentAPI& agent) {
    const std::string command = request.GetLeadValue();
    OwnedMessage reply = CopyOf(agent, request);
    const bool known = agent.AgentCommand(command, reply.get());
    // The command may have cleared the message, lead pair included.
    reply->SetLead("Reply", command.c_str());
    reply->SetField("Result", known ? "Success" : "BadCommand");
    agent.Log(2, "%s:%d answering %s", "default/ServerCommands", __LINE__, command.c_str());
    agent.Send(reply.release());
}

}  // namespace tbx
