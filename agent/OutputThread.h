#pragma once

#include <cstdint>

#include <corvane/IAgentAPI.h>

#include "agent/QueueThread.h"

class CAgentSocket;

// Writes the messages of the agent's output queue to the connection, each as its text and
// one zero byte. A write that times out puts its message back at the end of the queue; a
// write that comes out short ends the thread, as does the stop request of the queue.
class COutputThread : public CQueueThread {
public:
    static constexpr std::uint32_t kWriteTimeoutMs = 120000;

    // What the thread writes to and reports to; set before Start (not owned).
    void SetSocket(CAgentSocket* socket) { socket_ = socket; }
    void SetAgent(IAgentAPI* agent) { agent_ = agent; }
    void SetWriteTimeout(std::uint32_t milliseconds) { writeTimeoutMs_ = milliseconds; }

    // The argument is not used: the agent is the one given to SetAgent.
    std::uint32_t Run(std::uint32_t argument) override;

private:
    // Writes the message and takes it over; false when the thread must end.
    bool Send(msg::IQXMessage* message);

    CAgentSocket* socket_ = nullptr;
    IAgentAPI* agent_ = nullptr;
    std::uint32_t writeTimeoutMs_ = kWriteTimeoutMs;
};
