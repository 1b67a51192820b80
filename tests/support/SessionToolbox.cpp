// The toolbox of the agent, program, bootstrap and service tests and of the benchmarks. It
// stands in for the configuration and session toolboxes of an installation:
//   "Internal"/"Configure"      the first line of the file named in "Filename" becomes
//                               "Result", with that name in place of "<Filename>"
//   "Internal"/"CreateSession"  counts the session in the agent state ("Task-Sequence-ID",
//                               which the state file carries from one run to the next) and
//                               sends "Request=CreateSession" with the count as "Count"
//   "Internal"/"CheckUsers"     fills in "Users", after waiting while the file that the
//                               variable WARDEX_USERS_HOLD names exists, so a test can keep
//                               it busy
//   "Internal"/"Ping"           replies "Reply=Ping"
// Any other message does what its field "Action" asks, so a test server drives it from the
// wire:
//   Echo          sends a copy of the message back
//   Command       runs the built-in command named in "Command" on a copy, adds "Returned"
//                 (true or false, the result of AgentCommand) and sends the copy
//   Park          parks a copy in the message sink under "SinkType"; replies "Reply=Parked"
//   Fetch         sends the oldest parked message of "SinkType" ("FetchReverse": the
//                 newest) with "Fetched=Yes", or "Reply=Empty"
//   Sleep         waits "Ms" milliseconds, then echoes; with "Announce=Yes" it first
//                 replies "Reply=Started"
//   Gate          waits until the file named in "GateFile" exists; sends nothing
// Replies carry the message's "Tag"; anything else is taken and dropped. Every wait gives up
// after a while, so that a failed test never hangs.

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <corvane/Toolbox.h>

namespace {

constexpr const char* kCountName = "Task-Sequence-ID";

bool Is(const char* text, const char* expected) {
    return std::strcmp(text, expected) == 0;
}

void WaitUntil(const char* path, bool exists) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::filesystem::exists(path) != exists && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

msg::IQXMessage* Copy(const msg::IQXMessage* message, IAgentAPI* agent) {
    return &agent->NewMessage()->CopyFrom(*message);
}

void Reply(const msg::IQXMessage* message, IAgentAPI* agent, const char* what) {
    msg::IQXMessage* reply = agent->NewMessage();
    reply->SetLead("Reply", what);
    reply->SetField("Tag", message->GetField("Tag"));
    agent->Send(reply);
}

void CreateSession(IAgentAPI* agent) {
    msg::IQXMessage* state = agent->NewMessage();
    state->SetLead("State", "Specific");
    state->SetField(kCountName, "");
    agent->AgentCommand("GetState", state);
    const std::string count = std::to_string(std::atoi(state->GetField(kCountName)) + 1);
    state->SetField(kCountName, count.c_str());
    agent->AgentCommand("SetState", state);
    state->Release();
    msg::IQXMessage* request = agent->NewMessage();
    request->SetLead("Request", "CreateSession");
    request->SetField("Count", count.c_str());
    agent->Send(request);
}

void Internal(msg::IQXMessage* message, IAgentAPI* agent) {
    const char* kind = message->GetLeadValue();
    if (Is(kind, "Configure")) {
        const std::string name = message->GetField("Filename");
        std::ifstream file(name);
        std::string result;
        std::getline(file, result);
        const std::string placeholder = "<Filename>";
        if (const auto at = result.find(placeholder); at != std::string::npos) {
            result.replace(at, placeholder.size(), name);
        }
        message->SetField(std::string("Result"), result);
    } else if (Is(kind, "CreateSession")) {
        CreateSession(agent);
    } else if (Is(kind, "CheckUsers")) {
        const char* hold = std::getenv("WARDEX_USERS_HOLD");
        WaitUntil(hold ? hold : "", false);
        message->SetField("Users", "tester");
    } else if (Is(kind, "Ping")) {
        Reply(message, agent, "Ping");
    }
}

void RunCommand(const msg::IQXMessage* message, IAgentAPI* agent) {
    msg::IQXMessage* copy = Copy(message, agent);
    const bool returned = agent->AgentCommand(message->GetField("Command"), copy);
    copy->SetField("Returned", returned ? "true" : "false");
    agent->Send(copy);
}

void Fetch(const msg::IQXMessage* message, IAgentAPI* agent, bool newest) {
    const int sinkType = message->GetFieldInt("SinkType");
    msg::IQXMessage* parked = newest ? agent->FetchFromMessageSinkReverse(sinkType)
                                     : agent->FetchFromMessageSink(sinkType);
    if (parked == nullptr) {
        return Reply(message, agent, "Empty");
    }
    parked->SetField("Fetched", "Yes");
    agent->Send(parked);
}

void Sleep(const msg::IQXMessage* message, IAgentAPI* agent) {
    if (Is(message->GetField("Announce"), "Yes")) {
        Reply(message, agent, "Started");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(message->GetFieldInt("Ms")));
    agent->Send(Copy(message, agent));
}

void Act(msg::IQXMessage* message, IAgentAPI* agent) {
    const char* action = message->GetField("Action");
    if (Is(action, "Echo")) {
        agent->Send(Copy(message, agent));
    } else if (Is(action, "Command")) {
        RunCommand(message, agent);
    } else if (Is(action, "Park")) {
        agent->AddToMessageSink(Copy(message, agent), message->GetFieldInt("SinkType"));
        Reply(message, agent, "Parked");
    } else if (Is(action, "Fetch") || Is(action, "FetchReverse")) {
        Fetch(message, agent, Is(action, "FetchReverse"));
    } else if (Is(action, "Sleep")) {
        Sleep(message, agent);
    } else if (Is(action, "Gate")) {
        WaitUntil(message->GetField("GateFile"), true);
    }
}

std::int32_t HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) {
    Is(message->GetLeadName(), "Internal") ? Internal(message, agent) : Act(message, agent);
    return TBX_SUCCESS;
}

void Version(int* major, int* minor, int* build) {
    *major = 1;
    *minor = 0;
    *build = 7;
}

const ToolboxAPI kTable = {TBX_API_VERSION, Version, HandleMessage};

}  // namespace

extern "C" const ToolboxAPI* GetToolboxAPI() {
    return &kTable;
}
