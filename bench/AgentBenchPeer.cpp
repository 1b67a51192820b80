// The far end of the agent benchmark, run as a process of its own so that its memory and
// threads can be read from /proc:
//   agent_bench_peer agent <toolbox>   runs a real agent as the bootstrap does (settings and
//                                      state file under $CORVANE_ROOT) until the server
//                                      closes the connection
//   agent_bench_peer echo <port>       sends every byte straight back: the physical limit
//                                      of a request/reply exchange
//   agent_bench_peer handoff <port>    echoes every message from a thread of its own: the
//                                      limit for a peer that must (HandOffEcho.h)
// Exit code 0 on success, 1 on a failure (printed to standard error).

#include <unistd.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>

#include "HandOffEcho.h"
#include "agent/engine/QxAgent.h"
#include "common/msg/QXMessage.h"
#include "common/sys/Root.h"
#include "common/sys/linux/FileDescriptor.h"

namespace {

// One run of the agent on a thread of its own, as the bootstrap thread runs it.
void RunAgent(const std::string& toolbox) {
    util::ParamList toolboxes;
    toolboxes.Add(toolbox);
    CQXAgent agent;
    agent.Init(toolboxes);
    agent.SetStateFile(sys::UnderRoot("wardex.dat"));
    if (!agent.Start()) {
        throw std::runtime_error("the agent's input thread did not start");
    }
    msg::CQXMessage createSession;
    createSession.SetLead("Internal", "CreateSession");
    agent.InvokeHandler(&createSession);
    agent.WaitForClose();
    agent.Destroy();
}

sys::FileDescriptor Connect(int port) {
    sys::FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!socket ||
        ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address)) {
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

void WriteAll(int socket, const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t sent = ::send(socket, bytes, length, MSG_NOSIGNAL);
        if (sent <= 0) {
            throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        }
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
}

// Sends back every byte as it arrives, 64 KiB at a time, without looking at the messages:
// the least a peer can do per message, so that the ratio is taken against the wire itself.
void RunEcho(int port) {
    const sys::FileDescriptor socket = Connect(port);
    static char chunk[65536];
    for (;;) {
        const ssize_t count = ::recv(socket.Get(), chunk, sizeof chunk, 0);
        if (count <= 0) {
            return;
        }
        WriteAll(socket.Get(), chunk, static_cast<std::size_t>(count));
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc == 3 ? argv[1] : "";
        if (mode == "agent") {
            std::string failure;
            std::thread bootstrap([&failure, toolbox = std::string(argv[2])] {
                try {
                    RunAgent(toolbox);
                } catch (const std::exception& error) {
                    failure = error.what();
                } catch (const err::CGeneralError& error) {
                    failure = error.Message();
                }
            });
            bootstrap.join();
            if (!failure.empty()) {
                throw std::runtime_error(failure);
            }
        } else if (mode == "echo") {
            RunEcho(std::atoi(argv[2]));
        } else if (mode == "handoff") {
            RunHandOffEcho(Connect(std::atoi(argv[2])).Get());
        } else {
            std::fprintf(stderr, "usage: %s agent <toolbox> | echo <port> | handoff <port>\n",
                         argv[0]);
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "agent_bench_peer: %s\n", error.what());
        return 1;
    }
    return 0;
}
