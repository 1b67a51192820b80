#pragma once

#include <cstddef>
#include <future>
#include <memory>
#include <string>

#include "agent/engine/QxAgent.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/Environment.h"
#include "tests/support/TestPeer.h"

namespace enginetest {

// The state file of the agents of a test, in its settings sandbox's folder.
inline std::string StateFile(const testsupport::SettingsSandbox& sandbox) {
    return sandbox / "wardex.dat";
}

// With the agent's minute one millisecond long, a read time-out that no test meets unless it
// asks for one.
inline constexpr int kNoReadTimeout = 600000;

// A real agent connected to a test server, run as the bootstrap runs it: the settings name
// the server, Start connects, and a bootstrap thread offers "Internal"/"CreateSession" to the
// session toolbox, waits in WaitForClose and destroys the agent.
class AgentSession {
public:
    // testConnectionEvery: the setting, counted in milliseconds; a worker limit of 0 keeps
    // the dispatch thread's own.
    explicit AgentSession(const testsupport::SettingsSandbox& sandbox,
                          int testConnectionEvery = kNoReadTimeout, std::size_t workerLimit = 0);
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
