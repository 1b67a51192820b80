#include "default/Session.h"

#include <string>

#include "default/LoggedOnUsers.h"
#include "default/SystemFacts.h"
#include "shared/OwnedMessage.h"

namespace tbx {
namespace {

constexpr char kSource[] = "default/Session";

// Copies every field of the agent's task state into the message.
void AddTaskState(msg::IQXMessage& message, IAgentAPI& agent) {
    OwnedMessage state = NewMessage(agent);
    agent.AgentCommand("GetState", state.get());
    for (const auto& [name, value] : *state->GetFields()) {
        message.SetField(name, value);
    }
}

std::string ClientId(IAgentAPI& agent) {
    OwnedMessage settings = NewMessage(agent);
    settings->SetField("Settings", "Specified");
    settings->SetField("ClientID", "");
    agent.AgentCommand("GetAgentSettings", settings.get());
    const std::string stored = settings->GetField("ClientID");
    return stored.empty() ? MachineIdentity() : stored;
}

// The agent tells its version only inside its own update file name,
// "corvane-wardex-<major>.<minor>.<build>.X86.exe" (".X64.exe" for a 64-bit agent).
std::string AgentVersion(IAgentAPI& agent) {
    OwnedMessage info = NewMessage(agent);
    agent.AgentCommand("AgentUpdateInfo", info.get());
    const std::string file = info->GetField("Auto-Update-Current0");
    const std::string prefix = "corvane-wardex-";
    const std::string::size_type end = file.find(".X");
    if (file.rfind(prefix, 0) != 0 || end == std::string::npos || end < prefix.size()) {
        return {};
    }
    return file.substr(prefix.size(), end - prefix.size());
}

}  // namespace

void RequestSession(IAgentAPI& agent) {
    OwnedMessage request = NewMessage(agent);
    AddTaskState(*request, agent);
    request->SetLead("Request", "CreateSession");
    request->SetField("ClientID", ClientId(agent).c_str());
    request->SetField("AgentVersion", AgentVersion(agent).c_str());
    AddSystemFacts(*request);
    FillLoggedOnUsers(*request);
    agent.Log(1, "%s:%d asking the server for a session", kSource, __LINE__);
    agent.Send(request.release());
}

void AcceptSessionReply(const msg::IQXMessage& reply, IAgentAPI& agent) {
    const std::string result = reply.GetField("Result");
    if (result.find("Success") != std::string::npos) {
        agent.Log(1, "%s:%d the server opened the session", kSource, __LINE__);
        return;
    }
    agent.Log(0, "%s:%d the server refused the session: Result=%s", kSource, __LINE__,
              result.c_str());
    OwnedMessage close = NewMessage(agent);
    agent.AgentCommand("CloseSession", close.get());
}

void SendKeepAlive(IAgentAPI& agent) {
    OwnedMessage keepAlive = NewMessage(agent);
    keepAlive->SetLead("Request", "KeepAlive");
    keepAlive->SetField("HostName", HostName().c_str());
    agent.Send(keepAlive.release());
}

void FillLoggedOnUsers(msg::IQXMessage& message) {
    const std::vector<std::string> users = LoggedOnUsers();
    std::string list;
    for (const std::string& user : users) {
        list += (list.empty() ? "" : ",") + user;
    }
    message.SetField("Users", list.c_str());
    message.SetField("User-Count", static_cast<int>(users.size()));
}

void CloseOnRequest(const msg::IQXMessage& request, IAgentAPI& agent) {
    OwnedMessage close = CopyOf(agent, request);
    agent.Log(1, "%s:%d the server closes the session (Shutdown=%s)", kSource, __LINE__,
              request.GetField("Shutdown"));
    agent.AgentCommand("CloseSession", close.get());
}

}  // namespace tbx
