#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <openssl/ssl.h>
#include <string>
#include <sys/socket.h>
#include <thread>

#include "common/ipc/Aipc.h"
#include "common/ipc/TcpSChannel.h"
#include "common/util/Console.h"
#include "tests/ipc/IpcTestSupport.h"
#include "tests/support/TestPeer.h"

namespace {

using ipc::CIPCError;
using ipc::CIPCInterface;
using testipc::ExpectError;
using testipc::RaisedBy;
using testsupport::kWhole;
using testsupport::Peer;
using testsupport::PeerSocket;
using testsupport::ServerThread;
using testsupport::TestPki;

constexpr const char* kSource = "common\\ipc\\TcpSChannel";
const std::string kDecryptError = "CTCPSChannel::Decrypt() - Error decrypting message.";
constexpr unsigned kReadMs = 5000;

std::unique_ptr<CIPCInterface> ConnectTls(int port) {
    std::unique_ptr<CIPCInterface> tcp = CIPCInterface::Create(ipc::IPCTYPE_TCP);
    tcp->Connect("127.0.0.1", port);
    return CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, tcp);
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

// Makes the certificates (and points the trust store at the test authority) before any
// server thread starts.
class TcpSChannel : public ::testing::Test {
protected:
    void SetUp() override { TestPki::Instance(); }
};

// However the server cuts its handshake and records into segments, what it sends arrives
// whole: several records in one segment, a record larger than the reader's buffer, one byte
// per segment, and application data in the segment of the last handshake message. A write
// of many records, made while another thread reads, arrives whole too.
TEST_F(TcpSChannel, RecordsArriveWholeHoweverTheServerCutsThem) {
    struct Case {
        const char* name;
        int maxVersion;
        std::size_t segment;
        bool flushLast;
        unsigned bufferSize;
    };
    const Case cases[] = {
        {"records in one segment, small buffer", 0, kWhole, true, 1000},
        {"one byte per segment", 0, 1, true, 4096},
        {"data bundled with the handshake", TLS1_2_VERSION, kWhole, false, 4096},
    };
    const std::string large = Pattern(16 * 1024);
    const std::string payload = Pattern(64 * 1024);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string received;
        ServerThread server([&](PeerSocket socket) {
            Peer session = Handshaken(std::move(socket), c.maxVersion, c.segment, c.flushLast);
            session.Queue("first|");
            session.Queue(large);
            session.Flush(c.segment);
            received = session.Receive(payload.size());
            session.Send("");
        });
        util::SetConsoleMode(true);
        testing::internal::CaptureStdout();
        const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
        const std::string trace = testing::internal::GetCapturedStdout();
        util::SetConsoleMode(false);
        // The console names the data that came with the last handshake message.
        EXPECT_EQ(trace.find("bytes of app data was bundled") != std::string::npos, !c.flushLast)
            << trace;
        EXPECT_TRUE(ReadExactly(*channel, 6 + large.size(), c.bufferSize) == "first|" + large);
        std::thread reader([&] { EXPECT_NO_THROW(ReadExactly(*channel, 1)); });
        EXPECT_EQ(channel->Write(payload.data(), payload.size(), kReadMs),
                  static_cast<int>(payload.size()));
        reader.join();
        EXPECT_EQ(server.Failure(), "");
        EXPECT_TRUE(received == payload);
    }
}

// A Write that times out has committed nothing, so the caller may write that message again
// later, as the output thread does, without it reaching the server twice; one that comes
// back short has committed exactly the count it returns, and the rest is the caller's.
TEST_F(TcpSChannel, WhatWritesReportAsWrittenArrivesOnceAndInOrderAcrossTimeOuts) {
    // Messages of part of a record, of one record and a bit, and of several records, each of
    // its own letter, so that a repeated or lost piece shows.
    std::deque<std::string> pending;
    const std::size_t sizes[] = {300, 17000, 40 * 1024};
    std::size_t total = 0;
    for (char letter = 'a'; letter <= 'x'; ++letter) {
        pending.emplace_back(sizes[(letter - 'a') % 3], letter);
        total += pending.back().size();
    }
    std::promise<void> timedOut;
    std::string received;
    ServerThread server([&](PeerSocket socket) {
        // Smaller than the data, yet not so small that the window opens too slowly once the
        // server reads again.
        const int small = 64 * 1024;
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        Peer session = Handshaken(std::move(socket));
        // Reads nothing until a write of the client has timed out.
        if (timedOut.get_future().wait_for(std::chrono::milliseconds(testsupport::kPeerWaitMs)) !=
            std::future_status::ready) {
            throw std::runtime_error("the client never filled the connection");
        }
        received = session.Receive(total);
    });
    std::unique_ptr<CIPCInterface> tcp = CIPCInterface::Create(ipc::IPCTYPE_TCP);
    const int socket = tcp->Connect("127.0.0.1", server.Port());
    const int small = 4096;
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::unique_ptr<CIPCInterface> channel =
        CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, tcp);

    std::string committed;
    bool resumed = false;
    // Like the output thread, a message whose write timed out goes to the back of the queue;
    // unlike it, the rest of a short write is written next, which checks the count.
    while (!pending.empty()) {
        std::string message = std::move(pending.front());
        pending.pop_front();
        try {
            const auto count = static_cast<std::size_t>(
                channel->Write(message.data(), message.size(), resumed ? kReadMs : 20));
            EXPECT_LE(count, message.size());
            committed.append(message, 0, count);
            if (count < message.size()) {
                pending.push_front(message.substr(count));
            }
        } catch (const CIPCError& error) {
            if (error.Value() != 1) {
                ADD_FAILURE() << error.Message() << " " << error.Line();
                break;
            }
            pending.push_back(std::move(message));
            if (!resumed) {
                resumed = true;
                timedOut.set_value();
            }
        }
    }
    ASSERT_TRUE(resumed) << "the connection never filled up";
    EXPECT_EQ(server.Failure(), "");
    EXPECT_TRUE(received == committed)
        << "received " << received.size() << " bytes, " << committed.size() << " reported written";
}

// A server that handshakes TLS 1.2, ends the session by end and gives how the client ended it.
std::function<std::string(PeerSocket)> EndedBy(std::function<void(Peer&)> end) {
    return [end](PeerSocket socket) {
        Peer session = Handshaken(std::move(socket), TLS1_2_VERSION);
        end(session);
        return session.AwaitEnd();
    };
}

// How a session fails or ends shows in the error of the first Read, which the input thread
// takes as the end of the connection, not as a time-out; a failed handshake keeps its reason
// for the log. Disconnect sends the client's close_notify if the session still allows it, and
// every later call raises. A renegotiation request of a TLS 1.2 server is refused, which this
// server answers with a fatal alert; a record cut short or longer than the protocol allows
// ends the session too.
TEST_F(TcpSChannel, AFailedOrEndedSessionIsNamedInTheErrorOfTheReadAndLaterCallsRaise) {
    struct Case {
        const char* name;
        std::function<std::string(PeerSocket)> serve;  // gives how the server saw the end
        const char* handshakeFailure;                  // part of the kept reason, or ""
        std::string readError;                         // how the first Read's error starts
        int line;
        const char* serverSees;  // null where the client's answer is not fixed
    };
    const Case cases[] = {
        {"untrusted chain",
         [](PeerSocket socket) {
             if (Peer(std::move(socket)).StartTls(TestPki::Instance().ServerContext(false))) {
                 throw std::runtime_error("the client accepted an untrusted chain");
             }
             return std::string();
         },
         "certificate verify failed", kDecryptError, 207, ""},
        {"no TLS from the server",
         [](PeerSocket socket) {
             testsupport::ReceiveSome(socket.Get(), 0x10000);  // the client hello
             testsupport::SendAll(socket.Get(), "HTTP/1.1 400 Bad Request\r\n\r\n");
             testsupport::ReceiveSome(socket.Get(), 0x10000);  // the client's alert, or its end
             return std::string();
         },
         "returned by InitializeSecurityContext", kDecryptError, 207, ""},
        {"close", EndedBy(&Peer::SendCloseNotify), "",
         kDecryptError + " The server closed the session (close_notify).", 207, "close_notify"},
        {"renegotiation", EndedBy(&Peer::RequestRenegotiation), "",
         kDecryptError + " The server ended the session with the alert \"handshake failure\".", 207,
         "no renegotiation"},
        {"record cut short", EndedBy([](Peer& session) {
             // A record header announcing 100 bytes, then half of them.
             session.SendRaw(std::string("\x17\x03\x03\x00\x64", 5) + std::string(50, 'r'));
             session.HalfClose();
         }),
         "", "CSocketIPC::Read Socket unknown error", 310, nullptr},
        {"record too long", EndedBy([](Peer& session) {
             // An application-data record header announcing 65535 bytes, and some of them.
             session.SendRaw(std::string("\x17\x03\x03\xff\xff", 5) + std::string(1000, 'z'));
         }),
         "", kDecryptError + " The server's records", 207, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string serverSaw;
        ServerThread server([&](PeerSocket socket) { serverSaw = c.serve(std::move(socket)); });
        const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
        const std::string& failure = dynamic_cast<ipc::CTCPEncrypted&>(*channel).HandshakeFailure();
        EXPECT_EQ(failure.empty(), *c.handshakeFailure == '\0') << failure;
        EXPECT_NE(failure.find(c.handshakeFailure), std::string::npos) << failure;
        char buffer[64];
        const CIPCError error =
            RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, kReadMs); });
        EXPECT_EQ(std::string(error.Message()).rfind(c.readError, 0), 0u) << error.Message();
        EXPECT_EQ(error.Line(), c.line);
        EXPECT_NE(error.Value(), 1) << "timed out instead of seeing the end";
        EXPECT_EQ(channel->Disconnect(), 0);
        ExpectError(RaisedBy<CIPCError>([&] { channel->Write("secret", 6, kReadMs); }), kSource,
                    "CTCPSChannel::Encrypt() - Error encrypting message.", 161, 0, 0);
        ExpectError(RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, kReadMs); }),
                    kSource, kDecryptError.c_str(), 207, 0, 0);
        EXPECT_EQ(server.Failure(), "");
        if (c.serverSees) {
            EXPECT_EQ(serverSaw, c.serverSees);
        }
    }
}

}  // namespace
