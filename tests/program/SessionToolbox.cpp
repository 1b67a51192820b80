// A toolbox for the program and bootstrap tests, standing in for the configuration and
// session toolboxes of a real installation:
// - "Internal"/"Configure": the first line of the file named in "Filename" becomes "Result";
// - "Internal"/"CreateSession": counts the session in the agent state ("Task-Sequence-ID",
//   which the state file carries from one run to the next) and sends "Hello"="Session" with
//   the count to the server;
// - "Internal"/"CheckUsers": fills in "Users", after waiting while the file "users.hold"
//   exists in the relocated root (10 seconds at most), so a test can keep it busy.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <corvane/Toolbox.h>

namespace {

constexpr const char* kCountName = "Task-Sequence-ID";

void Version(int* major, int* minor, int* build) {
    *major = 1;
    *minor = 0;
    *build = 7;
}

void Configure(msg::IQXMessage* message) {
    std::ifstream file(message->GetField("Filename"));
    std::string firstLine;
    std::getline(file, firstLine);
    message->SetField(std::string("Result"), firstLine);
}

std::string ReadState(IAgentAPI* agent, const char* name) {
    msg::IQXMessage* request = agent->NewMessage();
    request->SetLead("State", "Specific");
    request->SetField(name, "");
    agent->AgentCommand("GetState", request);
    const std::string value = request->GetField(name);
    request->Release();
    return value;
}

void CountSession(IAgentAPI* agent) {
    const std::string count = std::to_string(std::stoi("0" + ReadState(agent, kCountName)) + 1);
    msg::IQXMessage* update = agent->NewMessage();
    update->SetLead("State", "Set");
    update->SetField(kCountName, count.c_str());
    agent->AgentCommand("SetState", update);
    update->Release();

    msg::IQXMessage* hello = agent->NewMessage();
    hello->SetLead("Hello", "Session");
    hello->SetField("Count", count.c_str());
    agent->Send(hello);
}

void CheckUsers(msg::IQXMessage* message) {
    const char* root = std::getenv("CORVANE_ROOT");
    const std::filesystem::path hold = std::filesystem::path(root ? root : "") / "users.hold";
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::filesystem::exists(hold) && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    message->SetField("Users", "tester");
}

std::int32_t HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) {
    const std::string lead = message->GetLeadName();
    const std::string kind = message->GetLeadValue();
    if (lead != "Internal") {
        return TBX_NEXT_TOOLBOX;
    }
    if (kind == "Configure") {
        Configure(message);
    } else if (kind == "CreateSession") {
        CountSession(agent);
    } else if (kind == "CheckUsers") {
        CheckUsers(message);
    } else {
        return TBX_NEXT_TOOLBOX;
    }
    return TBX_SUCCESS;
}

const ToolboxAPI kTable = {TBX_API_VERSION, Version, HandleMessage};

}  // namespace

extern "C" const ToolboxAPI* GetToolboxAPI() {
    return &kTable;
}
