#include <future>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include "common/ipc/Aipc.h"
#include "common/ipc/TcpEncrypted.h"
#include "common/ipc/TcpSChannel.h"
#include "common/util/Console.h"
#include "tests/ipc/IpcTestSupport.h"
#include "tests/support/TestBasics.h"
#include "tests/support/TestPeer.h"

namespace {

using ipc::CIPCError;
using ipc::CIPCInterface;
using testipc::ExpectError;
using testipc::RaisedBy;
using testsupport::kWhole;
using testsupport::Peer;
using testsupport::PeerSocket;
using testsupport::TestPki;

constexpr const char* kSource = "common\\ipc\\TcpSChannel";
const std::string kDecryptError = "CTCPSChannel::Decrypt() - Error decrypting message.";
constexpr unsigned kReadMs = 5000;

// A TLS client that checks the server's name where one is given.
std::unique_ptr<CIPCInterface> ConnectTls(int port, const std::string& name) {
    std::unique_ptr<CIPCInterface> tcp = CIPCInterface::Create(ipc::IPCTYPE_TCP);
    tcp->Connect("127.0.0.1", port);
    return CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, tcp, {.name = name, .pins = ""});
}

// Reads until length bytes have arrived, through a buffer of bufferSize.
std::string ReadExactly(CIPCInterface& channel, std::size_t length, unsigned bufferSize = 4096) {
    std::string data;
    std::string buffer(bufferSize, '\0');
    while (data.size() < length) {
        const int count = channel.Read(buffer.data(), bufferSize, kReadMs);
        data.append(buffer, 0, static_cast<std::size_t>(count));
    }
    return data;
}

// A trusted session whose handshake is done; raises when it fails.
Peer Handshaken(PeerSocket socket, int maxVersion = 0, std::size_t segment = kWhole,
                bool flushLast = true) {
    Peer session(std::move(socket));
    if (!session.StartTls(TestPki::Instance().ServerContext(true, maxVersion), segment,
                          flushLast)) {
        throw std::runtime_error("handshake failed");
    }
    return session;
}

std::string Pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('A' + i % 23);
    }
    return text;
}

const std::string kLarge = Pattern(16 * 1024);    // more than a client's read takes
const std::string kPayload = Pattern(64 * 1024);  // several records

// A Write that runs out of time after it committed records returns their count instead of
// raising, so the caller writes only the rest again; a time-out raised means nothing went.
TEST(TcpSChannel, AWriteCutShortByTheTimeOutReturnsWhatItCommitted) {
    const std::string message = Pattern(2 << 20);
    std::promise<void> cutShort;
    std::string received;
    TestPki::Instance();  // the certificates and the trust store, before the server thread
    testsupport::TestServer listener;
    auto server = std::async(std::launch::async, [&] {
        PeerSocket socket = listener.Accept();
        const int small = 64 * 1024;
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        Peer session = Handshaken(std::move(socket));
        // Reads nothing until the client's first write has come back.
        if (cutShort.get_future().wait_for(std::chrono::milliseconds(testsupport::kPeerWaitMs)) !=
            std::future_status::ready) {
            throw std::runtime_error("the client's write never came back");
        }
        received = session.Receive(message.size());
    });
    std::unique_ptr<CIPCInterface> tcp = CIPCInterface::Create(ipc::IPCTYPE_TCP);
    const int small = 4096;
    ::setsockopt(tcp->Connect("127.0.0.1", listener.Port()), SOL_SOCKET, SO_SNDBUF, &small,
                 sizeof small);
    const std::unique_ptr<CIPCInterface> channel =
        CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, tcp);
    int count = 0;
    EXPECT_NO_THROW(count = channel->Write(message.data(), message.size(), 20));
    cutShort.set_value();
    ASSERT_GT(count, 0);
    ASSERT_LT(count, static_cast<int>(message.size())) << "the connection never filled up";
    EXPECT_EQ(channel->Write(message.data() + count, message.size() - count, kReadMs),
              static_cast<int>(message.size()) - count);
    EXPECT_NO_THROW(server.get());
    EXPECT_TRUE(received == message) << "received " << received.size() << " bytes";
}

// A server that handshakes with the trusted chain as the arguments say, acts, and gives how
// the client ended the session.
std::function<std::string(PeerSocket)> Serving(std::function<void(Peer&)> act,
                                               int maxVersion = TLS1_2_VERSION,
                                               std::size_t segment = kWhole,
                                               bool flushLast = true) {
    return [=](PeerSocket socket) {
        Peer session = Handshaken(std::move(socket), maxVersion, segment, flushLast);
        act(session);
        return session.AwaitEnd();
    };
}

// Serving that sends "first|" and kLarge, cut as the arguments say, takes kPayload and closes
// the session.
std::function<std::string(PeerSocket)> Exchanging(int maxVersion, std::size_t segment,
                                                  bool flushLast) {
    const auto exchange = [segment](Peer& session) {
        session.Queue("first|");
        session.Queue(kLarge);
        session.Flush(segment);
        if (session.Receive(kPayload.size()) != kPayload) {
            throw std::runtime_error("the payload arrived changed");
        }
        session.SendCloseNotify();
    };
    return Serving(exchange, maxVersion, segment, flushLast);
}

// A server whose certificate the client must refuse: the untrusted authority's, or the
// trusted authority's for "mgmt*.corvane.example".
std::function<std::string(PeerSocket)> Refused(bool trustedAuthority) {
    return [trustedAuthority](PeerSocket socket) {
        const TestPki& pki = TestPki::Instance();
        if (Peer(std::move(socket))
                .StartTls(trustedAuthority ? pki.ServerContext(qxsim::Presented::kWrongName)
                                           : pki.ServerContext(false))) {
            throw std::runtime_error("the client accepted the server");
        }
        return std::string();
    };
}

// However the server cuts its handshake and records into segments, what it sends arrives
// whole: several records in one segment, a record larger than the reader's buffer, one byte
// per segment, and application data in the segment of the last handshake message; a write of
// many records arrives whole too. How a session fails or ends shows in the error of the next
// Read, which the input thread takes as the end of the connection, not as a time-out; a
// failed handshake keeps its reason for the log. Disconnect sends the client's close_notify if
// the session still allows it, and every later call raises. A renegotiation request of a
// TLS 1.2 server is refused, which this server answers with a fatal alert; a record longer
// than the protocol allows ends the session too.
TEST(TcpSChannel, RecordsArriveWholeAndTheEndOfASessionIsNamedInTheErrorOfTheRead) {
    const std::string closed = kDecryptError + " The server closed the session (close_notify).";
    struct Case {
        const char* name;
        std::function<std::string(PeerSocket)> serve;  // gives how the server saw the end
        unsigned bufferSize;           // of the client's reads of the data; 0 where none comes
        const char* handshakeFailure;  // part of the kept reason, or ""
        std::string readError;         // how the error of the Read after the data starts
        std::string serverSees;        // empty where the client's answer is not fixed
        std::string serverName = "";   // the name the client checks, if any
    };
    const Case cases[] = {
        {"records in one segment, small buffer", Exchanging(0, kWhole, true), 1000, "", closed,
         "close_notify"},
        {"one byte per segment", Exchanging(0, 1, true), 4096, "", closed, "close_notify"},
        {"data bundled with the handshake", Exchanging(TLS1_2_VERSION, kWhole, false), 4096, "",
         closed, "close_notify"},
        {"untrusted chain", Refused(false), 0, "certificate verify failed", kDecryptError, ""},
        // The server's name is checked without partial wildcards (docs/security.md).
        {"partial wildcard", Refused(true), 0, "hostname mismatch", kDecryptError, "",
         "mgmt1.corvane.example"},
        {"renegotiation", Serving(&Peer::RequestRenegotiation), 0, "",
         kDecryptError + " The server ended the session with the alert \"handshake failure\".",
         "no renegotiation"},
        {"record too long", Serving([](Peer& session) {
             // An application-data record header announcing 65535 bytes, and some of them.
             session.SendRaw(std::string("\x17\x03\x03\xff\xff", 5) + std::string(1000, 'z'));
         }),
         0, "", kDecryptError + " The server's records", ""},
    };
    TestPki::Instance();  // before any server thread starts
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TestServer listener;
        auto server = std::async(std::launch::async, [&] { return c.serve(listener.Accept()); });
        util::SetConsoleMode(true);
        testing::internal::CaptureStdout();
        const std::unique_ptr<CIPCInterface> channel = ConnectTls(listener.Port(), c.serverName);
        const std::string trace = testing::internal::GetCapturedStdout();
        util::SetConsoleMode(false);
        const std::string& failure = dynamic_cast<ipc::CTCPEncrypted&>(*channel).HandshakeFailure();
        EXPECT_EQ(failure.empty(), *c.handshakeFailure == '\0') << failure;
        EXPECT_NE(failure.find(c.handshakeFailure), std::string::npos) << failure;
        if (c.bufferSize != 0) {
            // The console names the data that came with the last handshake message.
            EXPECT_EQ(trace.find("bytes of app data was bundled") != std::string::npos,
                      std::string(c.name) == "data bundled with the handshake")
                << trace;
            EXPECT_TRUE(ReadExactly(*channel, 6 + kLarge.size(), c.bufferSize) ==
                        "first|" + kLarge);
            EXPECT_EQ(channel->Write(kPayload.data(), kPayload.size(), kReadMs),
                      static_cast<int>(kPayload.size()));
        }
        char buffer[64];
        const CIPCError error =
            RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, kReadMs); });
        EXPECT_EQ(std::string(error.Message()).rfind(c.readError, 0), 0u) << error.Message();
        EXPECT_EQ(error.Line(), 207);
        EXPECT_NE(error.Value(), 1) << "timed out instead of seeing the end";
        EXPECT_EQ(channel->Disconnect(), 0);
        ExpectError(RaisedBy<CIPCError>([&] { channel->Write("secret", 6, kReadMs); }), kSource,
                    "CTCPSChannel::Encrypt() - Error encrypting message.", 161, 0, 0);
        ExpectError(RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, kReadMs); }),
                    kSource, kDecryptError.c_str(), 207, 0, 0);
        std::string serverSaw;
        EXPECT_NO_THROW(serverSaw = server.get());
        EXPECT_TRUE(c.serverSees.empty() || serverSaw == c.serverSees) << serverSaw;
    }
}

}  // namespace
