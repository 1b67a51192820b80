#include <random>

#include "common/ipc/Aipc.h"
#include "common/ipc/TcpSocketIpc.h"
#include "common/sys/Platform.h"
#include "tests/ipc/IpcTestSupport.h"
#include "tests/support/TestBasics.h"
#include "tests/support/TestPeer.h"

namespace {

using ipc::CIPCError;
using ipc::CTCPSocketIPC;
using testipc::ExpectError;
using testipc::RaisedBy;

constexpr const char* kSocketSource = "SocketIPC";
constexpr const char* kTcpSource = "common\\ipc\\TcpSocketIpc";

// A client connected to a server socket of the test.
struct Connection {
    testsupport::PeerSocket Accepted() {
        client.Connect("127.0.0.1", server.Port());
        return server.Accept();
    }
    std::string Read(unsigned timeoutMs = 2000) {
        char buffer[256];
        const int count = client.Read(buffer, sizeof buffer, timeoutMs);
        return std::string(buffer, static_cast<std::size_t>(count));
    }

    testsupport::TestServer server;
    CTCPSocketIPC client;
    testsupport::PlainPeer peer{Accepted()};
};

TEST(TcpSocketIpc, CarriesBytesBothWaysWithoutDelayUntilDisconnectHalfClosesIt) {
    Connection connection;
    connection.peer.SendRaw("hello");
    EXPECT_EQ(connection.Read(), "hello");

    // More than the socket's buffers hold goes out in parts, each taking up where the last
    // one ended.
    std::string big(4 << 20, '\0');
    std::mt19937 bytes(7);
    std::generate(big.begin(), big.end(), [&bytes] { return static_cast<char>(bytes()); });
    std::string received;
    std::thread reader([&] { received = connection.peer.Receive(big.size()); });
    EXPECT_EQ(connection.client.Write(big.data(), static_cast<unsigned>(big.size()), 20000),
              static_cast<int>(big.size()));
    reader.join();
    EXPECT_TRUE(received == big) << "the peer received other bytes than were written";
    EXPECT_EQ(connection.client.GetRemoteAddress(), "127.0.0.1");
    EXPECT_EQ(connection.client.GetLocalAddress(), "127.0.0.1");

    CTCPSocketIPC byName;
    const int socket = byName.Connect("localhost", connection.server.PortText().c_str());
    EXPECT_TRUE(testsupport::HasNoDelay(socket))
        << "a reply written behind another would wait for a delayed ack";

    // Disconnect half-closes: the peer sees the end and can still answer.
    EXPECT_EQ(connection.client.Disconnect(), 0);
    EXPECT_FALSE(connection.client.IsConnected());
    EXPECT_EQ(connection.peer.NextOrEnd(), std::nullopt);
    connection.peer.SendRaw("bye");
    EXPECT_EQ(connection.Read(), "bye");
    EXPECT_EQ(connection.client.Disconnect(), 0);
}

// Every failure a caller meets, with the fields its log line and the server's reply carry;
// after each one the connection, where there is one, is still usable or cleanly gone.
TEST(TcpSocketIpc, FailuresRaiseTheirOwnErrors) {
    struct Case {
        const char* name;
        std::function<void(Connection&)> act;
        const char* source;
        const char* message;
        int line;
        int value;
        std::uint32_t systemError;
    };
    // A write after a reset meets the reset again on Windows, a shut connection on Linux.
    const bool windows = sys::kBuiltPlatform == sys::Platform::Windows;
    char buffer[16];
    std::vector<Case> cases = {
        {"connect again", [](Connection& c) { c.client.Connect("127.0.0.1", c.server.Port()); },
         kTcpSource, "CTCPSocketIPC::Connect() Connect called on a connected socket", 41, 1, 0},
        {"read times out", [&](Connection& c) { c.client.Read(buffer, sizeof buffer, 20); },
         kSocketSource, "CSocketIPC::Read Timed Out", 254, 1, 10060},
        {"peer closed",
         [](Connection& c) {
             c.peer.SendRaw("last");
             c.peer.Close();
             EXPECT_EQ(c.Read(), "last");
             c.Read();
         },
         kSocketSource, "CSocketIPC::Read Socket unknown error", 310, 0, 0},
        {"write after a reset",
         [](Connection& c) {
             c.peer.Reset();
             EXPECT_THROW(c.Read(), CIPCError);
             c.client.Write("x", 1, 2000);
         },
         kSocketSource, "CSocketIPC::Write Socket Error", 348, 0, windows ? 10054u : 10058u},
        {"unconnected read", [&](Connection&) { CTCPSocketIPC().Read(buffer, sizeof buffer, 0); },
         kSocketSource, "CSocketIPC::Read/Select Socket Error", 252, 0, 10038},
        {"no resource", [](Connection& c) { CTCPSocketIPC().Connect(nullptr, c.server.Port()); },
         kTcpSource, "CTCPSocketIPC::Connect() Missing Parameter - resource", 44, 2, 0},
        // Above the kernel's range for ports it hands out, so nothing of the tests listens there.
        {"port 65535", [](Connection&) { CTCPSocketIPC().Connect("127.0.0.1", "65535"); },
         kTcpSource, "CTCPSocketIPC::Connect Failed to connect", 71, 0, 10061},
    };
    for (const char* port : {"0", "abc", "65536", static_cast<const char*>(nullptr)}) {
        cases.push_back({port ? port : "no port",
                         [port](Connection&) { CTCPSocketIPC().Connect("127.0.0.1", port); },
                         kTcpSource, "CTCPSocketIPC::Connect() Missing Parameter - port", 47, 2,
                         0});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connection connection;
        ExpectError(RaisedBy<CIPCError>([&] { c.act(connection); }), c.source, c.message, c.line,
                    c.value, c.systemError);
        if (c.value == 1) {  // a time-out or a misuse leaves the connection as it was
            connection.peer.SendRaw("late");
            EXPECT_EQ(connection.Read(), "late");
        }
    }
}

}  // namespace
