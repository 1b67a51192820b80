#pragma once

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

#include "common/util/ParamList.h"

class CToolBox;

// Offers messages to the toolboxes, one after another in the order they were named, until
// one of them claims the message. Each message loads every toolbox it passes through and
// frees it again, unless the thread keeps it for the messages that follow closely
// (toolbox::KeptToolboxes); a library no one holds is loaded afresh from its file, which is
// what lets a toolbox file be replaced while the agent runs. The name list is read-only after
// construction, so any number of threads may dispatch at once.
class TbxDispatch final {
public:
    explicit TbxDispatch(const util::ParamList& toolboxes) : toolboxes_(toolboxes) {}

    // Every line is logged through the agent. A toolbox that cannot be loaded or called ends
    // the chain at its position with err::CGeneralError; an exception thrown by a toolbox's
    // own code passes through unchanged. Either way each library is freed or kept by the
    // thread's keeper before this returns. The message stays the caller's.
    void HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) const;

private:
    // Whether the next toolbox is to be asked.
    enum class Outcome { AskNext, Done };

    Outcome Offer(const char* name, msg::IQXMessage* message, IAgentAPI* agent) const;
    static Outcome Call(CToolBox& toolbox, msg::IQXMessage* message, IAgentAPI* agent);

    const util::ParamList toolboxes_;
};
