#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

#include "common/lang/Event.h"
#include "common/lang/IAThreads.h"

// Handles one message on a thread of its own, so that a slow toolbox never holds up the next
// message. The worker owns its message: deleting the worker releases it. Whatever escapes
// the agent's InvokeHandler is logged and absorbed, so the worker always ends normally.
class MsgThread final : public lang::IAThread {
public:
    // endSignal is set each time a worker has finished with its message; the garbage
    // collector waits on it.
    explicit MsgThread(lang::CEvent& endSignal) : endSignal_(endSignal) {}

    // Takes ownership of the message; the agent is not owned.
    void SetArgs(IAgentAPI* agent, msg::IQXMessage* message);
    std::uint32_t Run(std::uint32_t argument) override;

    // True once Run has finished with the message; the thread ends right after it.
    bool HasFinished() const { return finished_.load(std::memory_order_acquire); }
    // The message's lead pair, "name=value", as the log shows it.
    const std::string& Name() const { return name_; }

private:
    struct Releaser {
        void operator()(msg::IQXMessage* message) const { message->Release(); }
    };

    void Handle();
    void LogEscaped(const char* what);

    lang::CEvent& endSignal_;
    IAgentAPI* agent_ = nullptr;
    std::unique_ptr<msg::IQXMessage, Releaser> message_;
    std::string name_;
    std::atomic<bool> finished_{false};
};
