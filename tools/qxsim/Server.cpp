#include "tools/qxsim/Server.h"

#include <poll.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/signalfd.h>
#include <sys/socket.h>

namespace qxsim {
namespace {

std::string Endpoint(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

// The queue takes as many connections as the system allows: a fleet that comes back after a
// restart connects hundreds of agents within milliseconds, and a short queue would turn most
// of them away to try again a second or more later.
sys::FileDescriptor Listen(const std::string& host, int port, Printer& printer) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        throw std::runtime_error("'" + host + "' is not an IPv4 address");
    }
    sys::FileDescriptor listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!listener || ::setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.Get(), SOMAXCONN) != 0) {
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                                 std::strerror(errno));
    }
    socklen_t length = sizeof address;
    ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    printer.Note("listening on " + Endpoint(address));
    return listener;
}

}  // namespace

Server::Server(const Options& options, const SessionSetup& setup, sys::FileDescriptor signals)
    : options_(options),
      setup_(setup),
      signals_(std::move(signals)),
      listener_(Listen(options.address, options.port, setup.printer)),
      keyboardOpen_(options.keyboard) {}

Server::~Server() {
    for (const auto& connection : connections_) {
        connection->Stop();
    }
    connections_.clear();
}

int Server::Run() {
    if (keyboardOpen_) {
        setup_.printer.Note(
            "type 'send Lead=Value', indented name=value lines and an empty line to send a "
            "message to every agent; 'to N', 'agents', 'close', 'quit'");
    }
    while (!stopping_) {
        pollfd watched[4] = {{signals_.Get(), POLLIN, 0},
                             {listener_.Get(), POLLIN, 0},
                             {ended_.ReadEnd(), POLLIN, 0},
                             {keyboardOpen_ ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(watched, 4, -1) < 0) {
            continue;  // EINTR: a signal that is not ours
        }
        if (watched[0].revents != 0) {
            signalfd_siginfo signal{};
            [[maybe_unused]] const ssize_t ignored = ::read(signals_.Get(), &signal, sizeof signal);
            setup_.printer.Note(std::string("stopping on ") + ::strsignal(signal.ssi_signo));
            break;
        }
        if (watched[2].revents != 0) {
            Reap();
        }
        if (watched[1].revents != 0) {
            Accept();
        }
        if (watched[3].revents != 0) {
            ReadKeyboard();
        }
    }
    for (const auto& connection : connections_) {
        connection->Stop();
    }
    connections_.clear();
    setup_.printer.Note("stopped");
    return 0;
}

void Server::Accept() {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    sys::FileDescriptor socket(::accept4(listener_.Get(), reinterpret_cast<sockaddr*>(&peer),
                                         &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!socket) {
        setup_.printer.Error(std::string("accept: ") + std::strerror(errno));
        return;
    }
    connections_.push_back(std::make_unique<Connection>(
        ++accepted_, std::move(socket), Endpoint(peer), setup_, [this] { ended_.Wake(); }));
}

void Server::Reap() {
    ended_.Drain();
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->Ended()) {
            it = connections_.erase(it);
            ++finished_;
        } else {
            ++it;
        }
    }
    if (options_.exitAfter > 0 && finished_ >= options_.exitAfter) {
        setup_.printer.Note(std::to_string(finished_) + " agent(s) came and went; stopping");
        stopping_ = true;
    }
}

void Server::ReadKeyboard() {
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        keyboardOpen_ = false;
        typed_ += '\n';  // a last line without its line feed
    } else {
        typed_.append(buffer, static_cast<std::size_t>(count));
    }
    for (std::string::size_type end; (end = typed_.find('\n')) != std::string::npos;) {
        const std::string line = typed_.substr(0, end);
        typed_.erase(0, end + 1);
        try {
            for (const Step& step : keyboard_.Feed(line)) {
                Obey(step);
            }
        } catch (const ScriptError& error) {
            setup_.printer.Error(error.what());
        }
    }
    if (!keyboardOpen_) {
        if (std::optional<Step> last = keyboard_.Finish()) {
            Obey(*last);
        }
    }
}

void Server::Obey(const Step& step) {
    switch (step.kind) {
        case Step::Kind::kTarget:
            target_ = step.number;
            setup_.printer.Note(target_ == 0 ? "sending to every agent"
                                             : "sending to agent " + std::to_string(target_));
            return;
        case Step::Kind::kList:
            for (const auto& connection : connections_) {
                setup_.printer.Line(connection->Number(), "from " + connection->Peer());
            }
            setup_.printer.Note(std::to_string(connections_.size()) + " agent(s) connected");
            return;
        case Step::Kind::kQuit:
            stopping_ = true;
            return;
        default:
            Deliver(step);
    }
}

void Server::Deliver(const Step& step) {
    int delivered = 0;
    for (const auto& connection : connections_) {
        if (!connection->Ended() && (target_ == 0 || target_ == connection->Number())) {
            connection->Post(step);
            ++delivered;
        }
    }
    if (delivered == 0) {
        setup_.printer.Error(target_ == 0 ? "no agent is connected; nothing sent"
                                          : "agent " + std::to_string(target_) +
                                                " is not connected; nothing sent");
    }
}

}  // namespace qxsim
