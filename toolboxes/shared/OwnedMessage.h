#pragma once

// Small helpers the reference toolboxes share. Header only: each toolbox is its own library.

#include <cstring>
#include <memory>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

namespace tbx {

struct ReleaseMessage {
    void operator()(msg::IQXMessage* message) const { message->Release(); }
};

// A message the toolbox owns until it hands it to Send (release() first) or drops it.
using OwnedMessage = std::unique_ptr<msg::IQXMessage, ReleaseMessage>;

inline OwnedMessage NewMessage(IAgentAPI& agent) {
    return OwnedMessage(agent.NewMessage());
}

// A copy of the message that the toolbox may keep, change or send: the agent's own message
// must not outlive the call.
inline OwnedMessage CopyOf(IAgentAPI& agent, const msg::IQXMessage& message) {
    OwnedMessage copy = NewMessage(agent);
    copy->CopyFrom(message);
    return copy;
}

inline bool HasLead(const msg::IQXMessage& message, const char* name, const char* value) {
    return std::strcmp(message.GetLeadName(), name) == 0 &&
           std::strcmp(message.GetLeadValue(), value) == 0;
}

}  // namespace tbx
