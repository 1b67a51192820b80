#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

#include "common/lang/Event.h"
#include "common/msg/MessagePtr.h"

// Handles one message, so that a slow toolbox never holds up the next message: the worker
// runs on a thread of the dispatch thread's pool (WorkerPool) that runs nothing else
// meanwhile. The worker owns its message: deleting the worker releases it. Whatever escapes
// the agent's InvokeHandler is logged and absorbed, so the worker always ends normally.
class MsgThread final {
public:
    // endSignal is set each time a worker has finished with its message; the garbage
    // collector waits on it.
    explicit MsgThread(lang::CEvent& endSignal) : endSignal_(endSignal) {}
    MsgThread(const MsgThread&) = delete;
    MsgThread& operator=(const MsgThread&) = delete;

    // Takes ownership of the message; the agent is not owned.
    void SetArgs(IAgentAPI* agent, msg::IQXMessage* message);
    // Handles the message on the calling thread. Once HasFinished is true the worker is no
    // longer touched by Run and may be deleted.
    void Run();

    // True once Run has finished with the message.
    bool HasFinished() const { return finished_.load(std::memory_order_acquire); }
    // The system's id of the thread that runs the worker: 0 until Run begins.
    std::uint32_t GetThreadId() const { return threadId_.load(); }
    // The message's lead pair, "name=value", as the log shows it.
    const std::string& Name() const { return name_; }

private:
    void Handle();
    void LogEscaped(const char* what);

    lang::CEvent& endSignal_;
    IAgentAPI* agent_ = nullptr;
    msg::MessagePtr message_;
    std::string name_;
    std::atomic<std::uint32_t> threadId_{0};
    std::atomic<bool> finished_{false};
};
