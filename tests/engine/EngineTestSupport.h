#pragma once

#include <cstddef>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "agent/engine/Dispatch.h"
#include "agent/engine/QxAgent.h"
#include "agent/queue/MsgFifoQueue.h"
#include "common/msg/MessagePtr.h"
#include "common/msg/QXMessage.h"
#include "tests/support/Environment.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/TestPeer.h"

namespace enginetest {

using msg::MessagePtr;

// How long a test waits for something the code under test should do at once.
inline constexpr std::uint32_t kPatienceMs = 5000;

// A new message parsed from text.
inline MessagePtr MakeMessage(const std::string& text) {
    MessagePtr message(new msg::CQXMessage);
    message->Assign(text);
    return message;
}

// A dispatch over messages "Request=Job<n>" with the field "Seq" <n>, queued beforehand;
// Run offers each and stops once they have been handled.
struct QueuedDispatch {
    explicit QueuedDispatch(int messages) : count(messages) {
        dispatch.SetQueue(&queue);
        dispatch.SetAgent(&agent);
        for (int sequence = 1; sequence <= messages; ++sequence) {
            const std::string number = std::to_string(sequence);
            queue.Push(MakeMessage("Request=Job" + number + "\nSeq=" + number + "\n").release());
        }
    }
    void Run() {
        dispatch.Start();
        for (int offered = 0; offered < count; ++offered) {
            dispatch.Offer();
        }
        dispatch.Stop();
    }

    const int count;
    MsgFifoQueue queue;
    testsupport::RecordingAgent agent;
    CDispatch dispatch;
};

// The state file of the agents of a test, in its settings sandbox's folder.
inline std::string StateFile(const testsupport::SettingsSandbox& sandbox) {
    return sandbox / "wardex.dat";
}

// With the agent's minute one millisecond long, a read time-out that no test meets unless it
// asks for one.
inline constexpr int kNoReadTimeout = 600000;
inline constexpr int kSettingAbsent = -1;

// A real agent connected to a test server, run as the bootstrap runs it: the settings name
// the server, Start connects, and a bootstrap thread offers "Internal"/"CreateSession" to the
// session toolbox, waits in WaitForClose and destroys the agent.
class AgentSession {
public:
    // testConnectionEvery: the setting, counted in milliseconds; kSettingAbsent stores none.
    // toolboxes: the chain, the session toolbox alone when empty.
    explicit AgentSession(const testsupport::SettingsSandbox& sandbox,
                          int testConnectionEvery = kNoReadTimeout,
                          std::size_t workerLimit = CDispatch::kDefaultWorkerLimit,
                          const std::vector<std::string>& toolboxes = {});
    // Ends a session a failed test left running.
    ~AgentSession();

    // Connects the agent, starts the bootstrap and takes the session request. The server then
    // holds the connection.
    void Start();
    CQXAgent& Agent() { return agent_; }
    testsupport::Peer& Server() { return *server_; }
    // Sends the text and parses the next message from the agent.
    MessagePtr Ask(const std::string& text);
    // Waits until the bootstrap has destroyed the agent; false when that takes too long.
    bool Ended();

private:
    testsupport::TestServer listener_;
    CQXAgent agent_;
    std::unique_ptr<testsupport::Peer> server_;
    std::future<void> bootstrap_;
};

}  // namespace enginetest
