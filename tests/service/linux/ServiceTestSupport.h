#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/sys/linux/FileDescriptor.h"
#include "tests/support/AgentWorld.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestPeer.h"

// What the service tests and the stop-time benchmark share: the service manager's side of a
// service run, its notify socket and the process it started, and the states a stop must end
// from. The real program runs as the service with the tests' session toolbox
// (WARDEX_SESSION_TOOLBOX); a failure to reach a state is raised as std::runtime_error.
namespace servicetest {

// A datagram socket bound in a scratch folder, as systemd's notify socket is.
class NotifyListener {
public:
    explicit NotifyListener(std::string path);

    const std::string& Path() const { return path_; }
    // The next status report; empty when none came within the wait.
    std::string Next(int waitMs = 10000);

private:
    std::string path_;
    sys::FileDescriptor socket_;
};

// A world with the service manager's notify socket. The debug lines are off, as they would
// copy every message into the log.
class ServiceWorld : public testsupport::AgentWorld {
public:
    ServiceWorld() { Store({{"LogDebug", "0"}}); }
    std::string Utmp() const { return RootFolder() + "/run/utmp"; }
    // The program started as the service manager starts it, with the session toolbox and
    // NOTIFY_SOCKET set to the given path (by default the world's listener), perhaps under a
    // launcher.
    std::unique_ptr<testsupport::ChildProcess> StartService(
        const std::string& notifySocket = "", std::vector<std::string> launcher = {}) const {
        return Start({std::string("-load=") + WARDEX_SESSION_TOOLBOX},
                     {"NOTIFY_SOCKET=" + (notifySocket.empty() ? notify.Path() : notifySocket)},
                     std::move(launcher));
    }

    NotifyListener notify{Scratch() / "notify"};
};

// How many replies a stalled server leaves unread; they fill the socket buffers of both sides
// many times over.
inline constexpr int kStalledReplies = 300;

// The server's side of a new session: accepted, and past the session toolbox's request.
std::unique_ptr<testsupport::Peer> AcceptSession(ServiceWorld& world);

// A request the session toolbox echoes, with a body of the given size.
std::string Echo(int tag, std::size_t bodyBytes = 1);

// The tags of the "Tag=" lines in the text, each as often as it occurs.
std::multiset<int> Tags(const std::string& text);

// What reaching a state leaves: what must stay alive until the stop, and the server that
// stopped reading kStalledReplies echoes (tagged from 0) where there is one.
struct Reached {
    std::shared_ptr<void> held;
    std::shared_ptr<testsupport::Peer> stalled = nullptr;
};

// One state: reach starts the service (start) at the right moment.
struct StopState {
    const char* name;
    std::function<Reached(ServiceWorld& world, const std::function<void()>& start)> reach;
};

// Waiting to reconnect, connecting, switching to TLS, reading, writing to a server that
// stopped reading, running 1,000 busy workers.
const std::vector<StopState>& StopStates();

}  // namespace servicetest
