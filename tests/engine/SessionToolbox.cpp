// The toolbox of the agent session tests and benchmarks. It does what the message's field
// "Action" asks, so the test server drives it from the wire:
//   Echo          sends a copy of the message back
//   Command       runs the built-in command named in "Command" on a copy, adds "Returned"
//                 (true or false, the result of AgentCommand) and sends the copy
//   Park          parks a copy in the message sink under "SinkType"; replies "Reply=Parked"
//   Fetch         sends the oldest parked message of "SinkType" ("FetchReverse": the
//                 newest) with "Fetched=Yes", or "Reply=Empty"
//   Sleep         waits "Ms" milliseconds, then echoes; with "Announce=Yes" it first
//                 replies "Reply=Started"
//   Gate          waits until the file named in "GateFile" exists; sends nothing
//   Throw         raises a C++ exception out of the toolbox
// Replies carry the message's "Tag". "Internal"/"CreateSession" is answered with the session
// request "Request=CreateSession", "Internal"/"Ping" with "Reply=Ping"; anything else is
// taken and dropped.

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include <corvane/Toolbox.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long a gate is waited for before the worker gives up, so a failed test never hangs.
constexpr auto kGateLimit = std::chrono::seconds(30);

bool Is(const char* text, const char* expected) {
    return std::strcmp(text, expected) == 0;
}

msg::IQXMessage* Copy(const msg::IQXMessage* message, IAgentAPI* agent) {
    msg::IQXMessage* copy = agent->NewMessage();
    copy->CopyFrom(*message);
    return copy;
}

void Reply(const msg::IQXMessage* message, IAgentAPI* agent, const char* what) {
    msg::IQXMessage* reply = agent->NewMessage();
    reply->SetLead("Reply", what);
    reply->SetField("Tag", message->GetField("Tag"));
    agent->Send(reply);
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
        Reply(message, agent, "Empty");
        return;
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

void WaitForGate(const msg::IQXMessage* message) {
    const Clock::time_point limit = Clock::now() + kGateLimit;
    while (::access(message->GetField("GateFile"), F_OK) != 0 && Clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
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
        WaitForGate(message);
    } else if (Is(action, "Throw")) {
        throw std::runtime_error("session toolbox asked to fail");
    }
}

std::int32_t HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) {
    if (Is(message->GetLeadName(), "Internal")) {
        if (Is(message->GetLeadValue(), "CreateSession")) {
            msg::IQXMessage* request = agent->NewMessage();
            request->SetLead("Request", "CreateSession");
            agent->Send(request);
        } else if (Is(message->GetLeadValue(), "Ping")) {
            Reply(message, agent, "Ping");
        }
        return TBX_SUCCESS;
    }
    Act(message, agent);
    return TBX_SUCCESS;
}

void Version(int* major, int* minor, int* build) {
    *major = 1;
    *minor = 0;
    *build = 0;
}

const ToolboxAPI kTable = {TBX_API_VERSION, Version, HandleMessage};

}  // namespace

extern "C" const ToolboxAPI* GetToolboxAPI() {
    return &kTable;
}
