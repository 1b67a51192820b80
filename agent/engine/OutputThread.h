#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <corvane/IAgentAPI.h>

#include "agent/engine/QueueThread.h"

class CAgentSocket;

// Writes the messages of the agent's output queue to the connection, each as its text and
// one zero byte. The messages queued behind the one it takes go out in the same write, up to
// kBatchBytes, so that a stream of replies costs one write rather than one each; each message
// still has its own outcome. A write that times out puts its messages back at the end of the
// queue; a write that fails because the connection is closed or lost leaves every message in
// the queue, in order, and ends the thread, so that they are saved with the queue; another
// error drops the first message of the write and leaves the others queued for the next; a
// write that comes out short in the middle of a message drops that message and ends the
// thread, as does the stop request of the queue. The thread must be the queue's
// only consumer: the messages behind the first stay in the queue until they have been sent.
class COutputThread : public CQueueThread {
public:
    static constexpr std::uint32_t kWriteTimeoutMs = 120000;
    static constexpr std::size_t kBatchBytes = 64 * 1024;

    // What the thread writes to and reports to; set before Start (not owned).
    void SetSocket(CAgentSocket* socket) { socket_ = socket; }
    void SetAgent(IAgentAPI* agent) { agent_ = agent; }
    void SetWriteTimeout(std::uint32_t milliseconds) { writeTimeoutMs_ = milliseconds; }

    // The argument is not used: the agent is the one given to SetAgent.
    std::uint32_t Run(std::uint32_t argument) override;

private:
    // Writes the message with those queued behind it and takes the message over; false when
    // the thread must end.
    bool Send(msg::IQXMessage* message);
    // Puts the texts of the messages, each with its zero byte, into wire_ and logs them.
    void Compose(const std::vector<msg::IQXMessage*>& messages);
    // Settles the messages after a write of written bytes: those sent whole are released (the
    // followers taken out of the queue), those not begun stay queued. False when the write
    // ended inside a message, which is then dropped.
    bool Settle(const std::vector<msg::IQXMessage*>& messages, std::size_t written);
    // After the connection has gone: the message goes back to the front of the queue.
    void KeepForTheStateFile(msg::IQXMessage* message);
    // After a time-out: the messages go to the end of the queue, in their order.
    void Requeue(const std::vector<msg::IQXMessage*>& messages);

    CAgentSocket* socket_ = nullptr;
    IAgentAPI* agent_ = nullptr;
    std::uint32_t writeTimeoutMs_ = kWriteTimeoutMs;
    std::string wire_;  // the bytes of one write, kept to reuse its memory
};
