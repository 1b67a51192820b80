// A toolbox that answers "Request=Echo" with "Reply=Echo" carrying the request's "Text"
// field back to the server, and passes every other message on to the next toolbox.

#include <string>

#include <corvane/Toolbox.h>

namespace {

void Version(int* major, int* minor, int* build) {
    *major = 1;
    *minor = 0;
    *build = 3;
}

std::int32_t HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) {
    if (std::string(message->GetLeadName()) != "Request" ||
        std::string(message->GetLeadValue()) != "Echo") {
        return TBX_NEXT_TOOLBOX;
    }
    agent->Log(2, "%s:%d echo - answering %s", "EchoToolbox", __LINE__, message->GetField("Text"));
    // The request stays the agent's; the reply is a message of our own that Send takes.
    msg::IQXMessage* reply = agent->NewMessage();
    reply->SetLead("Reply", "Echo");
    reply->SetField("Text", message->GetField("Text"));
    agent->Send(reply);
    return TBX_SUCCESS;
}

const ToolboxAPI kTable = {TBX_API_VERSION, Version, HandleMessage};

}  // namespace

extern "C" const ToolboxAPI* GetToolboxAPI() {
    return &kTable;
}
