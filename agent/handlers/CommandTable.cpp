#include "agent/handlers/CommandTable.h"

#include <array>
#include <string_view>

#include "agent/handlers/AgentCloseSession.h"
#include "agent/handlers/AgentEncryptSession.h"
#include "agent/handlers/AgentSettings.h"
#include "agent/handlers/AgentUpdateInfo.h"
#include "agent/handlers/ServiceHandlers.h"
#include "agent/handlers/StateHandlers.h"

namespace {

struct Command {
    std::string_view name;
    std::unique_ptr<CAgentMessageHandler> (*make)();
};

template <typename Handler>
std::unique_ptr<CAgentMessageHandler> Make() {
    return std::make_unique<Handler>();
}

constexpr std::array<Command, 10> kCommands = {{
    {"GetAgentSettings", Make<CGetAgentSettings>},
    {"SetAgentSettings", Make<CSetAgentSettings>},
    {"GetState", Make<CGetStateHandler>},
    {"SetState", Make<CSetStateHandler>},
    {"ClearState", Make<CClearStateHandler>},
    {"StopService", Make<CStopServiceHandler>},
    {"RestartService", Make<CRestartServiceHandler>},
    {"AgentUpdateInfo", Make<AgentUpdateInfo>},
    {"EnableEncryption", Make<CAgentEncryptSession>},
    {"CloseSession", Make<CAgentCloseSession>},
}};

}  // namespace

std::unique_ptr<CAgentMessageHandler> MakeCommandHandler(const std::string& command) {
    for (const Command& entry : kCommands) {
        if (entry.name == command) {
            return entry.make();
        }
    }
    return nullptr;
}
