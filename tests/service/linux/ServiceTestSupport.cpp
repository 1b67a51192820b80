#include "tests/service/linux/ServiceTestSupport.h"

#include <poll.h>

#include <cstring>
#include <regex>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>

namespace servicetest {

namespace {

using testsupport::Request;

void Require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::runtime_error("stop state not reached: " + what);
    }
}

// A listener whose queue of connections is full, so that a new connect is never answered.
struct FullListener {
    testsupport::TestServer listener{0};
    testsupport::PeerSocket filler = testsupport::Connect(listener.Port());
};

Reached WaitingToReconnect(ServiceWorld& world, const std::function<void()>& start) {
    world.Store({{"TcpPort", std::to_string(testsupport::ClosedPort())}});
    start();
    Require(world.WaitForLog("Retrying startup in"), "no reconnect wait");
    return {};
}

Reached Connecting(ServiceWorld& world, const std::function<void()>& start) {
    auto full = std::make_shared<FullListener>();
    world.Store({{"TcpPort", full->listener.PortText()}});
    start();
    Require(world.WaitForLog("The settings were successfully retrieved."), "no connect");
    return {full};
}

Reached SwitchingToTls(ServiceWorld& world, const std::function<void()>& start) {
    start();
    std::shared_ptr<testsupport::Peer> server = AcceptSession(world);
    server->Send("Reply=CreateSession\nResult=Success");
    Require(!testsupport::ReceiveSome(server->Socket(), 4096).empty(), "no client hello");
    return {server};  // the hello stays unanswered
}

Reached Reading(ServiceWorld& world, const std::function<void()>& start) {
    start();
    return {AcceptSession(world)};
}

// A stalled server: requests for kStalledReplies echoes of 60,000 bytes, none of which it
// reads, until the toolbox has handed every reply to the agent's output queue.
Reached WritingToAStalledServer(ServiceWorld& world, const std::function<void()>& start) {
    start();
    std::shared_ptr<testsupport::Peer> server = AcceptSession(world);
    for (int tag = 0; tag < kStalledReplies; ++tag) {
        server->Send(Echo(tag, 60000));
    }
    // One more for the session request.
    Require(
        world.WaitForLog("CQXAgent::Send() - Called by Toolbox", std::size_t{kStalledReplies} + 1),
        "the replies were not all queued");
    return {server, server};
}

Reached RunningBusyWorkers(ServiceWorld& world, const std::function<void()>& start) {
    start();
    std::shared_ptr<testsupport::Peer> server = AcceptSession(world);
    constexpr int kWorkers = 1000;
    for (int tag = 0; tag < kWorkers; ++tag) {
        server->Send(Request("Sleep", "Announce=Yes\nMs=2000\nTag=" + std::to_string(tag)));
    }
    // On a slow build the first workers may be done before the last ones have started.
    for (int started = 0; started < kWorkers;) {
        const std::string reply = server->Next();
        if (reply.rfind("Reply=Started\n", 0) == 0) {
            ++started;
        } else {
            Require(reply.rfind("Request=Work\nAction=Sleep\n", 0) == 0, "unexpected " + reply);
        }
    }
    return {server};
}

}  // namespace

NotifyListener::NotifyListener(std::string path)
    : path_(std::move(path)), socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    if (!socket_ ||
        ::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind the notify socket " + path_);
    }
}

std::string NotifyListener::Next(int waitMs) {
    pollfd wait{socket_.Get(), POLLIN, 0};
    if (::poll(&wait, 1, waitMs) != 1) {
        return "";
    }
    char buffer[4096];
    const ssize_t size = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
    return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : "";
}

std::unique_ptr<testsupport::Peer> AcceptSession(ServiceWorld& world) {
    auto server = std::make_unique<testsupport::Peer>(world.listener.Accept());
    const std::string request = server->Next();
    Require(request.rfind("Request=CreateSession\n", 0) == 0, "session request was " + request);
    return server;
}

std::multiset<int> Tags(const std::string& text) {
    std::multiset<int> tags;
    const std::regex tag("Tag=([0-9]+)\n");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), tag);
         it != std::sregex_iterator(); ++it) {
        tags.insert(std::stoi((*it)[1]));
    }
    return tags;
}

std::string Echo(int tag, std::size_t bodyBytes) {
    return Request("Echo", "Tag=" + std::to_string(tag) + "\nBody=" + std::string(bodyBytes, 'b'));
}

const std::vector<StopState>& StopStates() {
    static const std::vector<StopState> states = {
        {"waiting to reconnect", WaitingToReconnect},
        {"connecting", Connecting},
        {"switching to TLS", SwitchingToTls},
        {"reading", Reading},
        {"writing to a server that stopped reading", WritingToAStalledServer},
        {"running 1,000 busy workers", RunningBusyWorkers},
    };
    return states;
}

}  // namespace servicetest
