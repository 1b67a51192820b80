#pragma once

#include <cstddef>
#include <future>
#include <string>
#include <thread>

#include "agent/QxAgent.h"
#include "common/msg/QXMessage.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestServer.h"

namespace enginetest {

// A system root of its own in a temporary folder (CORVANE_ROOT points at it while the object
// lives), holding the settings store and the state file.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& Path() const { return path_; }
    std::string StateFile() const { return path_ + "/wardex.dat"; }

private:
    std::string path_;
};

// With the agent's minute one millisecond long, a read time-out that no test meets unless it
// asks for one.
inline constexpr int kNoReadTimeout = 600000;

// A real agent connected to a test server, run as the bootstrap runs it: the settings name
// the server, Start connects, and a bootstrap thread offers "Internal"/"CreateSession" to the
// session toolbox, waits in WaitForClose and destroys the agent.
class AgentSession {
public:
    struct Options {
        // The setting "TestConnectionEvery", counted in milliseconds.
        int testConnectionEvery = kNoReadTimeout;
        // 0 keeps the dispatch thread's own worker limit.
        std::size_t workerLimit = 0;
    };

    explicit AgentSession(const TempRoot& root) : AgentSession(root, Options()) {}
    AgentSession(const TempRoot& root, const Options& options);
    // Ends a session a failed test left running.
    ~AgentSession();

    // Connects the agent and starts the bootstrap; the server then holds the connection.
    void Start();
    CQXAgent& Agent() { return agent_; }
    testsupport::Peer& Server() { return *server_; }
    // Waits until Destroy has run on the bootstrap thread; false when that takes too long.
    bool Ended(int waitMs = testsupport::kPeerWaitMs);

private:
    void Bootstrap();

    testsupport::TestServer listener_;
    CQXAgent agent_;
    std::unique_ptr<testsupport::Peer> server_;
    std::promise<void> ended_;
    std::future<void> endedFuture_ = ended_.get_future();
    std::thread bootstrap_;
};

// The thread count of this process.
std::size_t ThreadCount();

}  // namespace enginetest
