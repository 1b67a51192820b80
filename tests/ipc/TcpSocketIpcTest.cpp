#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/ipc/Aipc.h"
#include "common/ipc/TcpSocketIpc.h"
#include "common/sys/Platform.h"
#include "tests/ipc/IpcTestSupport.h"

namespace {

using ipc::CIPCError;
using ipc::CTCPSocketIPC;
using testipc::ExpectError;
using testipc::RaisedBy;

constexpr const char* kSocketSource = "SocketIPC";
constexpr const char* kTcpSource = "common\\ipc\\TcpSocketIpc";

// A client connected to a server socket of the test.
struct Connection {
    Connection() {
        client.Connect("127.0.0.1", server.Port());
        peer = server.Accept();
    }

    std::string Read(unsigned timeoutMs = 2000) {
        char buffer[256];
        const int count = client.Read(buffer, sizeof buffer, timeoutMs);
        return std::string(buffer, static_cast<std::size_t>(count));
    }

    testsupport::TestServer server;
    CTCPSocketIPC client;
    testsupport::PeerSocket peer;
};

TEST(TcpSocketIpc, CarriesBytesBothWaysWithoutWaitingForThePeersAcknowledgement) {
    Connection connection;
    testsupport::SendAll(connection.peer.Get(), "hello");
    EXPECT_EQ(connection.Read(), "hello");
    EXPECT_EQ(connection.client.Write("reply", 5, 2000), 5);
    EXPECT_EQ(testsupport::ReceiveExactly(connection.peer.Get(), 5), "reply");

    // More than the socket's buffers hold goes out in parts, each taking up where the last
    // one ended.
    std::string big(4 << 20, '\0');
    std::mt19937 bytes(7);
    std::generate(big.begin(), big.end(), [&bytes] { return static_cast<char>(bytes()); });
    std::string received;
    std::thread reader(
        [&] { received = testsupport::ReceiveExactly(connection.peer.Get(), big.size()); });
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
    // Wine reads the error of a reset connection itself, so its recv sees an orderly end. A
    // write after a reset meets the reset again on Windows, a shut connection on Linux.
    const bool wine = testsupport::RunsUnderWine();
    const bool windows = sys::kBuiltPlatform == sys::Platform::Windows;
    char buffer[16];
    const auto read = [&](CTCPSocketIPC& client, unsigned timeoutMs) {
        client.Read(buffer, sizeof buffer, timeoutMs);
    };
    std::vector<Case> cases = {
        {"connect again", [](Connection& c) { c.client.Connect("127.0.0.1", c.server.Port()); },
         kTcpSource, "CTCPSocketIPC::Connect() Connect called on a connected socket", 41, 1, 0},
        {"read times out", [&](Connection& c) { read(c.client, 20); }, kSocketSource,
         "CSocketIPC::Read Timed Out", 254, 1, 10060},
        {"read polls", [&](Connection& c) { read(c.client, 0); }, kSocketSource,
         "CSocketIPC::Read Timed Out", 254, 1, 10060},
        {"peer closed",
         [](Connection& c) {
             testsupport::SendAll(c.peer.Get(), "last");
             c.peer.Reset();
             EXPECT_EQ(c.Read(), "last");
             c.Read();
         },
         kSocketSource, "CSocketIPC::Read Socket unknown error", 310, 0, 0},
        {"peer reset",
         [](Connection& c) {
             testsupport::ResetConnection(c.peer);
             c.Read();
         },
         kSocketSource,
         wine ? "CSocketIPC::Read Socket unknown error" : "CSocketIPC::Read Socket Error",
         wine ? 310 : 290, 0, wine ? 0u : 10054u},
        {"write after a reset",
         [](Connection& c) {
             testsupport::ResetConnection(c.peer);
             EXPECT_THROW(c.Read(), CIPCError);
             c.client.Write("x", 1, 2000);
         },
         kSocketSource, "CSocketIPC::Write Socket Error", 348, 0, windows ? 10054u : 10058u},
        {"read cancelled",
         [](Connection& c) {
             const std::jthread cancel([&c] { c.client.CancelBlockingCall(); });
             c.Read(testsupport::kPeerWaitMs);
         },
         kSocketSource, "CSocketIPC::Read Socket unknown error", 310, 0, 0},
        {"refused",
         [](Connection&) { CTCPSocketIPC().Connect("127.0.0.1", testsupport::ClosedPort()); },
         kTcpSource, "CTCPSocketIPC::Connect Failed to connect", 71, 0, 10061},
        {"unconnected read",
         [&](Connection&) {
             CTCPSocketIPC client;
             read(client, 0);
         },
         kSocketSource, "CSocketIPC::Read/Select Socket Error", 252, 0, 10038},
        {"no resource", [](Connection& c) { CTCPSocketIPC().Connect(nullptr, c.server.Port()); },
         kTcpSource, "CTCPSocketIPC::Connect() Missing Parameter - resource", 44, 2, 0},
        // Above the kernel's range for ports it hands out, so nothing of the tests listens there.
        {"port 65535", [](Connection&) { CTCPSocketIPC().Connect("127.0.0.1", "65535"); },
         kTcpSource, "CTCPSocketIPC::Connect Failed to connect", 71, 0, 10061},
        // A refused attempt keeps its socket, so making another one is refused.
        {"socket after a refusal",
         [](Connection&) {
             CTCPSocketIPC refused;
             EXPECT_THROW(refused.Connect("127.0.0.1", testsupport::ClosedPort()), CIPCError);
             EXPECT_FALSE(refused.IsConnected());
             refused.NewSocket();
         },
         kTcpSource, "CTCPSocketIPC::NewSocket - Socket already exists", 113, 0, 0},
        {"send buffer stays full",
         [](Connection& c) {
             testsupport::ShrinkReceiveBuffer(c.peer.Get());
             const std::string chunk(64 * 1024, 'x');
             // The peer never reads, so the buffers fill within a bounded number of writes.
             for (int attempt = 0; attempt < 10000; ++attempt) {
                 ASSERT_GT(c.client.Write(chunk.data(), chunk.size(), 20), 0);
             }
         },
         kSocketSource, "CSocketIPC::Read Timed Out", 254, 1, 10060},
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
            testsupport::SendAll(connection.peer.Get(), "late");
            EXPECT_EQ(connection.Read(), "late");
        }
    }
}

TEST(TcpSocketIpc, DisconnectHalfClosesSoThePeerSeesTheEndAndCanStillAnswer) {
    Connection connection;
    EXPECT_EQ(connection.client.Disconnect(), 0);
    EXPECT_FALSE(connection.client.IsConnected());
    EXPECT_EQ(testsupport::ReceiveSome(connection.peer.Get(), 16), "");
    testsupport::SendAll(connection.peer.Get(), "bye");
    EXPECT_EQ(connection.Read(), "bye");
    EXPECT_EQ(connection.client.Disconnect(), 0);
}

// Only TCP is made plainly; a channel needs a connected TCP transport, and a caller whose
// channel could not be made (a build without TLS has none at all) keeps its transport.
TEST(IpcFactory, CreateMakesTransportsOfKnownTypesOnly) {
    EXPECT_EQ(ipc::CIPCInterface::Create(ipc::IPCTYPE_SCHANNEL), nullptr);
    EXPECT_EQ(ipc::CIPCInterface::Create(0), nullptr);
    std::unique_ptr<ipc::CIPCInterface> inner;
    EXPECT_THROW(ipc::CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, inner), CIPCError);
    inner = ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP);
    const ipc::CIPCInterface* kept = inner.get();
    for (const int type : {ipc::IPCTYPE_TCP, ipc::IPCTYPE_SCHANNEL}) {
        EXPECT_THROW(ipc::CIPCInterface::CreateEncrypted(type, inner), CIPCError) << type;
        EXPECT_EQ(inner.get(), kept) << type;
    }
}

}  // namespace
