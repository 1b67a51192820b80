#include "agent/handlers/AgentUpdateInfo.h"

#include <string>

#include "agent/Version.h"

int AgentUpdateInfo::HandleMessage(IAgentCommands&, msg::IQXMessage* message) {
    if (!message) {
        return 0;
    }
    const int count = message->GetFieldInt("Auto-Update-Count");
    const std::string suffix = std::to_string(count);
    const std::string ending = std::string(".") + agent_version::kArchitecture + ".exe";
    const std::string file = std::string("corvane-wardex-") + agent_version::kText + ending;
    message->SetField("Auto-Update-Current" + suffix, file);
    message->SetField("Auto-Update-Pattern" + suffix, "agents\\mireton\\corvane-wardex-*" + ending);
    message->SetField("Auto-Update-Count", count + 1);
    return 0;
}
