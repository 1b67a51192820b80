#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <corvane/IAgentAPI.h>

#include "agent/engine/MessageFramer.h"
#include "agent/engine/QueueThread.h"
#include "common/err/Errors.h"
#include "common/msg/MessagePtr.h"

class CAgentSocket;
class CDispatch;

// Reads the server's messages from the connection and puts them on the agent's input
// queue, one message per text, whole whatever the segmentation. A read that finds nothing
// for the read time-out queues one "Internal"/"Ping" message. The thread ends when the
// peer closes or resets the connection, on a socket error that cannot be recovered, or when
// the socket is closed under it. When the queue has no room it waits before it reads more,
// so the server is slowed down by TCP instead of the agent's memory growing. With the
// setting "RequireEncrypt" on, nothing the server sends reaches the toolboxes until the
// connection is encrypted, except its answer to the session request; an answer that does not
// lead to an encrypted connection closes it.
class CInputThread : public CQueueThread {
public:
    static constexpr unsigned kBufferBytes = 4096;
    // Used when the setting "TestConnectionEvery" is 0.
    static constexpr std::uint32_t kDefaultReadTimeoutMs = 3600000;

    // What the thread reads from and reports to; set before Start (not owned).
    void SetSocket(CAgentSocket* socket) { socket_ = socket; }
    void SetAgent(IAgentAPI* agent) { agent_ = agent; }
    // Offered every message the thread queues, so that a worker takes it; none when unset.
    void SetDispatch(CDispatch* dispatch) { dispatch_ = dispatch; }
    // The length of the setting's unit, so that tests can count it in milliseconds.
    void SetMillisecondsPerMinute(std::uint32_t milliseconds) { msPerMinute_ = milliseconds; }

    // The argument is not used: the agent is the one given to SetAgent.
    std::uint32_t Run(std::uint32_t argument) override;
    // How long a read waits before the thread offers a keep-alive, once Run has read the
    // settings.
    std::uint32_t ReadTimeoutMs() const { return readTimeoutMs_.load(); }

private:
    using MessagePtr = msg::MessagePtr;

    // Reads the settings the thread works by: the read time-out and "RequireEncrypt".
    void ReadSettings();
    void ReadOnce(CMessageFramer& framer, char* buffer, std::uint32_t timeoutMs);
    void Receive(std::string_view text);
    // False, with a log line, for a message that must not pass while the connection is plain.
    bool Admit(const msg::IQXMessage& message);
    void ReportAnomalies(const CMessageFramer::Anomalies& anomalies);
    // Starts encryption when the message is the server's successful answer to CreateSession;
    // closes the connection when encryption is required and the answer did not bring it.
    void CheckEncryption(msg::IQXMessage& message);
    void Enqueue(MessagePtr message);
    // Returns false when the thread must end.
    bool HandleReadError(const ipc::CIPCError& error);

    CAgentSocket* socket_ = nullptr;
    IAgentAPI* agent_ = nullptr;
    CDispatch* dispatch_ = nullptr;
    std::uint32_t msPerMinute_ = 60000;
    std::atomic<std::uint32_t> readTimeoutMs_{kDefaultReadTimeoutMs};
    bool requireEncrypt_ = false;
    std::string received_;
};
