#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

#include "common/msg/MessagePtr.h"

// Handles one message, so that a slow toolbox never holds up the next message: the worker
// runs on a thread of the dispatch thread's pool (WorkerPool) that runs nothing else
// meanwhile, and that thread deletes it once it has run. The worker owns its message:
// deleting the worker releases it. Whatever escapes the agent's InvokeHandler is logged and
// absorbed, so the worker always ends normally.
class MsgThread final {
public:
    MsgThread() = default;
    MsgThread(const MsgThread&) = delete;
    MsgThread& operator=(const MsgThread&) = delete;

    // Takes ownership of the message; the agent is not owned.
    void SetArgs(IAgentAPI* agent, msg::IQXMessage* message);
    // Handles the message on the calling thread.
    void Run();

    // The message's lead pair, "name=value", as the log shows it.
    const std::string& Name() const { return name_; }

private:
    void Handle();
    void LogEscaped(const char* what);

    IAgentAPI* agent_ = nullptr;
    msg::MessagePtr message_;
    std::string name_;
};
