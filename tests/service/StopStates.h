#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/service/ServiceTestSupport.h"
#include "tests/support/TestPeer.h"

// The service in the states a stop must end from, shared by the fault tests and the stop-time
// benchmark. The real program runs as the service with the tests' session toolbox
// (WARDEX_SESSION_TOOLBOX); a failure to reach a state is raised as std::runtime_error.
namespace servicetest {

// Replies large enough to fill the socket buffers of both sides many times over.
inline constexpr int kStalledReplies = 300;
inline constexpr std::size_t kStalledReplyBytes = 60000;

// A service world without the debug lines, which would copy every message into the log.
class FaultWorld : public ServiceWorld {
public:
    FaultWorld() { Store({{"LogDebug", "0"}}); }
};

// The argument that loads the session toolbox.
std::string LoadEchoToolbox();

// The server's side of a new session: accepted, and past the session toolbox's request.
std::unique_ptr<testsupport::Peer> AcceptSession(ServiceWorld& world);

// A request the session toolbox echoes, with a body of the given size.
std::string Echo(int tag, std::size_t bodyBytes = 1);

// A stalled server: requests for replies of replyBytes each, none of which it reads, until
// the toolbox has handed every reply to the agent's output queue.
void StallWithReplies(ServiceWorld& world, testsupport::Peer& server, int count,
                      std::size_t replyBytes);

// One state: reach starts the service (start) at the right moment and returns what must stay
// alive until the stop.
struct StopState {
    const char* name;
    std::function<std::shared_ptr<void>(ServiceWorld& world, const std::function<void()>& start)>
        reach;
};

// Waiting to reconnect, connecting, switching to TLS, reading, writing to a server that
// stopped reading, running 1,000 busy workers.
const std::vector<StopState>& StopStates();

}  // namespace servicetest
