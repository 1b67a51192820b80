// The configuration toolbox: "Internal"/"Configure" names a configuration file in
// "Filename"; the toolbox stores its settings through the agent's "SetAgentSettings" command
// and answers in the message's "Result": "Success", "Reboot" when the file asks for a
// restart, or the reason the file was not applied. Every other message is passed on.

#include <exception>
#include <string>

#include <corvane/Toolbox.h>

#include "config/ConfigFile.h"
#include "shared/OwnedMessage.h"

namespace {

constexpr char kSource[] = "config";

void Version(int* major, int* minor, int* build) {
    *major = 1;
    *minor = 0;
    *build = 0;
}

void Apply(const tbx::Configuration& configuration, IAgentAPI& agent) {
    if (configuration.settings.empty()) {
        return;
    }
    tbx::OwnedMessage settings = tbx::NewMessage(agent);
    for (const auto& [name, value] : configuration.settings) {
        settings->SetField(name, value);
    }
    agent.AgentCommand("SetAgentSettings", settings.get());
}

// The text for "Result".
std::string Configure(const std::string& path, IAgentAPI& agent) {
    if (path.empty()) {
        return "no configuration file: Filename is empty";
    }
    const tbx::Configuration configuration = tbx::ReadConfigFile(path);
    Apply(configuration, agent);
    agent.Log(1, "%s:%d applied %zu settings of %s", kSource, __LINE__,
              configuration.settings.size(), path.c_str());
    return configuration.reboot ? "Reboot" : "Success";
}

std::int32_t HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) {
    if (!tbx::HasLead(*message, "Internal", "Configure")) {
        return TBX_NEXT_TOOLBOX;
    }
    std::string result;
    try {
        result = Configure(message->GetField("Filename"), *agent);
    } catch (const std::exception& error) {
        result = error.what();
    } catch (...) {
        result = "the agent could not store the settings";
    }
    message->SetField("Result", result.c_str());
    const bool applied = result == "Success" || result == "Reboot";
    if (!applied) {
        agent->Log(0, "%s:%d configuration not applied: %s", kSource, __LINE__, result.c_str());
    }
    return applied ? TBX_SUCCESS : TBX_FAILED;
}

const ToolboxAPI kTable = {TBX_API_VERSION, Version, HandleMessage};

}  // namespace

extern "C" const ToolboxAPI* GetToolboxAPI() {
    return &kTable;
}
