#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "common/ipc/Aipc.h"
#include "common/ipc/TcpSocketIpc.h"
#include "tests/ipc/IpcTestSupport.h"

namespace {

using ipc::CIPCError;
using ipc::CTCPCSocketError;
using ipc::CTCPSocketIPC;
using testipc::ExpectError;
using testipc::RaisedBy;

constexpr const char* kSocketSource = "SocketIPC";
constexpr const char* kTcpSource = "common\\ipc\\TcpSocketIpc";

// A client connected to a server socket of the test.
struct Connection {
    Connection() {
        client.Connect("127.0.0.1", listener.Port());
        peer = listener.Accept();
    }

    std::string Read(unsigned timeoutMs = 2000) {
        char buffer[256];
        const int count = client.Read(buffer, sizeof buffer, timeoutMs);
        return std::string(buffer, static_cast<std::size_t>(count));
    }

    testsupport::TestServer listener;
    CTCPSocketIPC client;
    sys::FileDescriptor peer;
};

TEST(TcpSocketIpc, CarriesBytesBothWaysAndAConnectAgainRaisesAndKeepsTheConnection) {
    Connection connection;
    testsupport::SendAll(connection.peer.Get(), "hello");
    EXPECT_EQ(connection.Read(), "hello");
    EXPECT_EQ(connection.client.Write("reply", 5, 2000), 5);
    EXPECT_EQ(testsupport::ReceiveExactly(connection.peer.Get(), 5), "reply");
    EXPECT_EQ(connection.client.GetRemoteAddress(), "127.0.0.1");
    EXPECT_EQ(connection.client.GetLocalAddress(), "127.0.0.1");

    const CTCPCSocketError error = RaisedBy<CTCPCSocketError>(
        [&] { connection.client.Connect("127.0.0.1", connection.listener.Port()); });
    ExpectError(error, kTcpSource, "CTCPSocketIPC::Connect() Connect called on a connected socket",
                41, 1, 0);
    EXPECT_EQ(connection.client.Write("still", 5, 2000), 5);
    EXPECT_EQ(testsupport::ReceiveExactly(connection.peer.Get(), 5), "still");
}

TEST(TcpSocketIpc, ResolvesAHostNameAndWritesWithoutWaitingForThePeersAcknowledgement) {
    testsupport::TestServer listener;
    CTCPSocketIPC client;
    const int socket = client.Connect("localhost", listener.PortText().c_str());
    EXPECT_EQ(client.GetRemoteAddress(), "127.0.0.1");
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    ASSERT_EQ(::getsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
    EXPECT_NE(noDelay, 0) << "a reply written behind another would wait for a delayed ack";
}

TEST(TcpSocketIpc, ReadWithNothingArrivingTimesOutWithValueOne) {
    Connection connection;
    char buffer[16];
    for (const unsigned timeoutMs : {20u, 0u}) {
        const CIPCError error =
            RaisedBy<CIPCError>([&] { connection.client.Read(buffer, sizeof buffer, timeoutMs); });
        ExpectError(error, kSocketSource, "CSocketIPC::Read Timed Out", 254, 1, 10060);
    }
    // The connection is still usable after a time-out.
    testsupport::SendAll(connection.peer.Get(), "late");
    EXPECT_EQ(connection.Read(), "late");
}

TEST(TcpSocketIpc, WriteToASendBufferThatStaysFullTimesOut) {
    Connection connection;
    const int small = 4096;
    ::setsockopt(connection.peer.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const std::vector<char> chunk(64 * 1024, 'x');
    std::optional<CIPCError> error;
    // The peer never reads, so the buffers fill within a bounded number of writes.
    for (int attempt = 0; attempt < 10000 && !error; ++attempt) {
        try {
            const int sent = connection.client.Write(chunk.data(), chunk.size(), 20);
            ASSERT_GT(sent, 0);
        } catch (const CIPCError& raised) {
            error = raised;
        }
    }
    ASSERT_TRUE(error.has_value());
    ExpectError(*error, kSocketSource, "CSocketIPC::Read Timed Out", 254, 1, 10060);
}

TEST(TcpSocketIpc, RefusedConnectionReports10061AsPlainIpcError) {
    CTCPSocketIPC client;
    const testipc::RaisedIpcError raised =
        testipc::RaisedIpc([&] { client.Connect("127.0.0.1", testsupport::ClosedPort()); });
    EXPECT_FALSE(raised.moreSpecific);
    ExpectError(raised.error, kTcpSource, "CTCPSocketIPC::Connect Failed to connect", 71, 0, 10061);
    EXPECT_FALSE(client.IsConnected());
    // The failed attempt keeps its socket, so making another one is refused.
    EXPECT_EQ(RaisedBy<CIPCError>([&] { client.NewSocket(); }).Line(), 113);
}

TEST(TcpSocketIpc, PeerThatClosesMakesTheNextReadRaiseAfterItsLastBytes) {
    Connection connection;
    testsupport::SendAll(connection.peer.Get(), "last");
    connection.peer.Reset();
    EXPECT_EQ(connection.Read(), "last");
    const CIPCError error = RaisedBy<CIPCError>([&] { connection.Read(); });
    ExpectError(error, kSocketSource, "CSocketIPC::Read Socket unknown error", 310, 0, 0);
}

TEST(TcpSocketIpc, PeerResetReports10054AndLaterWritesFail) {
    Connection connection;
    testsupport::ResetConnection(connection.peer);
    const CIPCError error = RaisedBy<CIPCError>([&] { connection.Read(); });
    ExpectError(error, kSocketSource, "CSocketIPC::Read Socket Error", 290, 0, 10054);
    // Writing to the dead connection is an error too, not the end of the process (SIGPIPE).
    ExpectError(RaisedBy<CIPCError>([&] { connection.client.Write("x", 1, 2000); }), kSocketSource,
                "CSocketIPC::Write Socket Error", 348, 0, 10058);
}

TEST(TcpSocketIpc, MissingOrInvalidParametersRaiseBeforeAnyConnect) {
    testsupport::TestServer listener;
    CTCPSocketIPC client;
    for (const char* port : {"0", "abc", "70000", static_cast<const char*>(nullptr)}) {
        const CTCPCSocketError error =
            RaisedBy<CTCPCSocketError>([&] { client.Connect("127.0.0.1", port); });
        ExpectError(error, kTcpSource, "CTCPSocketIPC::Connect() Missing Parameter - port", 47, 2,
                    0);
    }
    const CTCPCSocketError error =
        RaisedBy<CTCPCSocketError>([&] { client.Connect(nullptr, listener.Port()); });
    ExpectError(error, kTcpSource, "CTCPSocketIPC::Connect() Missing Parameter - resource", 44, 2,
                0);
    EXPECT_FALSE(client.IsConnected());
    // No socket was made: the object can still connect.
    client.Connect("127.0.0.1", listener.PortText().c_str());
    EXPECT_TRUE(client.IsConnected());
}

TEST(TcpSocketIpc, UnconnectedObjectHasZeroAddressesAndIgnoresCloseCalls) {
    CTCPSocketIPC client;
    EXPECT_EQ(client.GetRemoteAddress(), "0.0.0.0");
    EXPECT_EQ(client.GetLocalAddress(), "0.0.0.0");
    EXPECT_NO_THROW(client.CancelBlockingCall());
    EXPECT_EQ(client.Disconnect(), 0);
    char buffer[4];
    const CIPCError error = RaisedBy<CIPCError>([&] { client.Read(buffer, sizeof buffer, 0); });
    ExpectError(error, kSocketSource, "CSocketIPC::Read/Select Socket Error", 252, 0, 10038);
}

TEST(TcpSocketIpc, CancelBlockingCallWakesABlockedReader) {
    Connection connection;
    std::optional<CIPCError> error;
    std::thread reader([&] {
        try {
            connection.Read(10000);
        } catch (const CIPCError& raised) {
            error = raised;
        }
    });
    // Give the reader a moment to block; the test holds whether or not it got there first.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    connection.client.CancelBlockingCall();
    reader.join();
    ASSERT_TRUE(error.has_value());
    ExpectError(*error, kSocketSource, "CSocketIPC::Read Socket unknown error", 310, 0, 0);
    EXPECT_TRUE(connection.client.IsConnected());
}

TEST(TcpSocketIpc, DisconnectHalfClosesSoThePeerSeesTheEndAndCanStillAnswer) {
    Connection connection;
    EXPECT_EQ(connection.client.Disconnect(), 0);
    EXPECT_FALSE(connection.client.IsConnected());
    EXPECT_EQ(testsupport::ReceiveSome(connection.peer.Get(), 16), "");
    testsupport::SendAll(connection.peer.Get(), "bye");
    EXPECT_EQ(connection.Read(), "bye");
}

TEST(IpcFactory, CreateMakesAnUnconnectedTcpTransportForItsTypeOnly) {
    const std::unique_ptr<ipc::CIPCInterface> tcp = ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP);
    ASSERT_NE(dynamic_cast<CTCPSocketIPC*>(tcp.get()), nullptr);
    EXPECT_FALSE(static_cast<CTCPSocketIPC&>(*tcp).IsConnected());
    EXPECT_EQ(ipc::CIPCInterface::Create(ipc::IPCTYPE_SCHANNEL), nullptr);
    EXPECT_EQ(ipc::CIPCInterface::Create(0), nullptr);
}

TEST(IpcFactory, CreateEncryptedRejectsBadArgumentsAndKeepsTheInnerTransport) {
    constexpr const char* kSource = "common\\ipc\\Aipc";
    std::unique_ptr<ipc::CIPCInterface> inner;
    ExpectError(RaisedBy<CIPCError>(
                    [&] { ipc::CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, inner); }),
                kSource,
                "CIPCInterface::CreateEncrypted() - Invalid CIPCInterface pointer passed to "
                "CreateEncrypted.",
                84, 2, 0);
    inner = ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP);
    const ipc::CIPCInterface* kept = inner.get();
    ExpectError(
        RaisedBy<CIPCError>([&] { ipc::CIPCInterface::CreateEncrypted(ipc::IPCTYPE_TCP, inner); }),
        kSource, "CIPCInterface::CreateEncrypted() - Invalid IPC type passed to CreateEncrypted.",
        87, 1, 0);
    EXPECT_EQ(inner.get(), kept);
}

}  // namespace
