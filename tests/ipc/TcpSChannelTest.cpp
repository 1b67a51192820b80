#include <algorithm>
#include <chrono>
#include <deque>
#include <future>
#include <memory>
#include <openssl/ssl.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>

#include "common/ipc/Aipc.h"
#include "common/ipc/TcpSChannel.h"
#include "common/util/Console.h"
#include "tests/ipc/IpcTestSupport.h"

namespace {

using ipc::CIPCError;
using ipc::CIPCInterface;
using testipc::ExpectError;
using testipc::RaisedBy;
using testsupport::Peer;
using testsupport::ServerThread;
using testsupport::TestPki;

constexpr const char* kSource = "common\\ipc\\TcpSChannel";
constexpr unsigned kReadMs = 5000;

class TcpSChannel : public ::testing::Test {
protected:
    // Makes the certificates (and points the trust store at the test authority) before any
    // server thread starts.
    void SetUp() override { TestPki::Instance(); }
    void TearDown() override { util::SetConsoleMode(false); }

    static std::unique_ptr<CIPCInterface> ConnectTcp(int port) {
        std::unique_ptr<CIPCInterface> tcp = CIPCInterface::Create(ipc::IPCTYPE_TCP);
        tcp->Connect("127.0.0.1", port);
        return tcp;
    }

    static std::unique_ptr<CIPCInterface> ConnectTls(int port) {
        std::unique_ptr<CIPCInterface> tcp = ConnectTcp(port);
        return CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, tcp);
    }

    // Reads until length bytes have arrived.
    static std::string ReadExactly(CIPCInterface& channel, std::size_t length,
                                   unsigned bufferSize = 4096) {
        std::string data;
        std::string buffer(bufferSize, '\0');
        while (data.size() < length) {
            const int count = channel.Read(buffer.data(), bufferSize, kReadMs);
            data.append(buffer, 0, static_cast<std::size_t>(count));
        }
        return data;
    }

    // A trusted session whose handshake is done; raises when it fails.
    static Peer Handshaken(sys::FileDescriptor socket, int maxVersion = 0,
                           std::size_t segment = testsupport::kWhole, bool flushLast = true) {
        Peer session(std::move(socket));
        if (!session.StartTls(TestPki::Instance().ServerContext(true, maxVersion), segment,
                              flushLast)) {
            throw std::runtime_error("handshake failed");
        }
        return session;
    }
};

// Two records in one segment and a record larger than the caller's buffer all arrive whole.
TEST_F(TcpSChannel, HandshakeOverAConnectedTransportThenRecordsBothWays) {
    std::string large(16 * 1024, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>('A' + i % 23);
    }
    ServerThread server([&](sys::FileDescriptor socket) {
        Peer session = Handshaken(std::move(socket));
        if (session.Receive(5) != "hello") {
            throw std::runtime_error("wrong request");
        }
        session.Queue("first|");
        session.Queue("second");
        session.Queue(large);
        session.Flush();
        session.Receive(4);  // stays connected until the client has read everything
    });
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    ASSERT_NE(dynamic_cast<ipc::CTCPSChannel*>(channel.get()), nullptr);
    EXPECT_EQ(dynamic_cast<ipc::CTCPSChannel&>(*channel).HandshakeFailure(), "");
    EXPECT_GE(channel->Write("hello", 5, kReadMs), 5);
    EXPECT_TRUE(ReadExactly(*channel, 12 + large.size(), 1000) == "first|second" + large);
    channel->Write("done", 4, kReadMs);
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, ConnectAndCancelBlockingCallAreRefused) {
    ServerThread server([](sys::FileDescriptor socket) { Handshaken(std::move(socket)); });
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    const char* message =
        "CTCPSChannel::Connect() - This method cannot be called on a CTCPSChannel object.";
    ExpectError(RaisedBy<CIPCError>([&] { channel->Connect("127.0.0.1", 443); }), kSource, message,
                226, 0, 0);
    ExpectError(RaisedBy<CIPCError>([&] { channel->CancelBlockingCall(); }), "common\\ipc\\Aipc",
                "CIPCInterface::CancelBlockingCall() - Base class must override this call.", 98, 3,
                0);
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, UntrustedChainFailsTheHandshakeAndTheFirstWriteRaises) {
    ServerThread server([](sys::FileDescriptor socket) {
        if (Peer(std::move(socket)).StartTls(TestPki::Instance().ServerContext(false))) {
            throw std::runtime_error("the client accepted an untrusted chain");
        }
    });
    util::SetConsoleMode(true);
    testing::internal::CaptureStdout();
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    const std::string trace = testing::internal::GetCapturedStdout();
    ASSERT_NE(channel, nullptr);
    EXPECT_NE(trace.find("returned by InitializeSecurityContext (2)"), std::string::npos) << trace;
    EXPECT_NE(trace.find("certificate verify failed"), std::string::npos) << trace;
    const std::string& failure = dynamic_cast<ipc::CTCPEncrypted&>(*channel).HandshakeFailure();
    EXPECT_EQ(failure.rfind("Error 0x", 0), 0u) << failure;
    EXPECT_NE(failure.find("certificate verify failed"), std::string::npos) << failure;
    ExpectError(RaisedBy<CIPCError>([&] { channel->Write("secret", 6, kReadMs); }), kSource,
                "CTCPSChannel::Encrypt() - Error encrypting message.", 161, 0, 0);
    char buffer[16];
    ExpectError(RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, kReadMs); }),
                kSource, "CTCPSChannel::Decrypt() - Error decrypting message.", 207, 0, 0);
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, HandshakeAndRecordsSentOneBytePerSegmentStillWork) {
    const std::string message = "one byte at a time, every record and handshake message";
    ServerThread server([&](sys::FileDescriptor socket) {
        Peer session = Handshaken(std::move(socket), 0, 1);
        session.Queue(message);
        session.Flush(1);
    });
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    EXPECT_EQ(ReadExactly(*channel, message.size()), message);
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, WriteOfSixtyFourKibibytesArrivesWhole) {
    std::string payload(64 * 1024, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>('a' + i % 26);
    }
    std::string received;
    ServerThread server([&](sys::FileDescriptor socket) {
        Peer session = Handshaken(std::move(socket));
        received = session.Receive(payload.size());
    });
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    EXPECT_GE(channel->Write(payload.data(), payload.size(), kReadMs),
              static_cast<int>(payload.size()));
    EXPECT_EQ(server.Failure(), "");
    EXPECT_TRUE(received == payload);
}

TEST_F(TcpSChannel, ApplicationDataRightAfterTheLastHandshakeMessageIsDelivered) {
    ServerThread server([](sys::FileDescriptor socket) {
        // TLS 1.2, where the server's Finished is the last handshake message: the first
        // record goes out in the same segment.
        Peer session = Handshaken(std::move(socket), TLS1_2_VERSION, testsupport::kWhole, false);
        session.Queue("welcome");
        session.Flush();
    });
    util::SetConsoleMode(true);
    testing::internal::CaptureStdout();
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    const std::string trace = testing::internal::GetCapturedStdout();
    util::SetConsoleMode(false);
    EXPECT_NE(trace.find("bytes of app data was bundled with handshake data"), std::string::npos)
        << trace;
    EXPECT_EQ(ReadExactly(*channel, 7), "welcome");
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, ReadAndWriteRunAtTheSameTimeOnTwoThreads) {
    ServerThread server([](sys::FileDescriptor socket) {
        Peer session = Handshaken(std::move(socket));
        session.Receive(4);
        session.Queue("pong");
        session.Flush();
    });
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    std::string answer;
    std::thread reader([&] { answer = ReadExactly(*channel, 4); });
    // The reader is (most likely) blocked in its inner read; the write must not wait for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    channel->Write("ping", 4, kReadMs);
    reader.join();
    EXPECT_EQ(answer, "pong");
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, CancelBlockingCallOfThePlainTransportWakesAChannelReader) {
    ServerThread server([](sys::FileDescriptor socket) {
        Peer session = Handshaken(std::move(socket));
        testsupport::ReceiveSome(session.Socket(), 64);  // until the client's end
    });
    std::unique_ptr<CIPCInterface> tcp = ConnectTcp(server.Port());
    CIPCInterface* plain = tcp.get();
    const std::unique_ptr<CIPCInterface> channel =
        CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, tcp);
    std::optional<CIPCError> error;
    std::thread reader([&] {
        try {
            ReadExactly(*channel, 1);
        } catch (const CIPCError& raised) {
            error = raised;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    plain->CancelBlockingCall();
    reader.join();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->Value(), 0);
    EXPECT_EQ(error->SystemError(), 0u);
    channel->Disconnect();
    EXPECT_EQ(server.Failure(), "");
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
    ServerThread server([&](sys::FileDescriptor socket) {
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
    std::size_t countsOverLength = 0;
    bool resumed = false;
    // Like the output thread, a message whose write timed out goes to the back of the queue;
    // unlike it, the rest of a short write is written next, which checks the count.
    while (!pending.empty()) {
        std::string message = std::move(pending.front());
        pending.pop_front();
        try {
            const auto count = static_cast<std::size_t>(
                channel->Write(message.data(), message.size(), resumed ? kReadMs : 20));
            countsOverLength += count > message.size() ? 1 : 0;
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
    EXPECT_EQ(countsOverLength, 0u);
    const auto differ =
        std::mismatch(received.begin(), received.end(), committed.begin(), committed.end());
    EXPECT_TRUE(received == committed)
        << "received " << received.size() << " bytes, " << committed.size()
        << " reported written, first difference at byte " << differ.first - received.begin();
}

// How a session ends shows in the error of the Read that meets the end, which the input
// thread takes as the end of the connection; Disconnect then sends the client's
// close_notify if the session still allows it. A renegotiation request of a TLS 1.2 server
// is refused, which this server answers with a fatal alert.
TEST_F(TcpSChannel, TheEndOfASessionIsNamedAndARenegotiationRequestEndsItAtOnce) {
    struct Case {
        const char* name;
        void (Peer::*action)();
        const char* readError;
        const char* serverSees;
    };
    const Case cases[] = {
        {"close", &Peer::SendCloseNotify, "The server closed the session (close_notify).",
         "close_notify"},
        {"renegotiation", &Peer::RequestRenegotiation,
         "The server ended the session with the alert \"handshake failure\".", "no renegotiation"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string serverSaw;
        ServerThread server([&](sys::FileDescriptor socket) {
            Peer session = Handshaken(std::move(socket), TLS1_2_VERSION);
            (session.*c.action)();
            serverSaw = session.AwaitEnd();
        });
        const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
        char buffer[64];
        ExpectError(
            RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, kReadMs); }), kSource,
            (std::string("CTCPSChannel::Decrypt() - Error decrypting message. ") + c.readError)
                .c_str(),
            207, 0, 0);
        channel->Disconnect();
        EXPECT_EQ(server.Failure(), "");
        EXPECT_EQ(serverSaw, c.serverSees);
    }
}

// Traces its calls only in console mode; Disconnect ends the connection and leaves a shell
// whose calls raise.
TEST_F(TcpSChannel, TracesOnlyInConsoleModeAndDisconnectLeavesAnEmptyShell) {
    ServerThread server([](sys::FileDescriptor socket) {
        Peer session = Handshaken(std::move(socket));
        session.Receive(4);
        session.AwaitEnd();  // raises unless Disconnect ends the session
    });
    testing::internal::CaptureStdout();
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    channel->Write("hi", 2, kReadMs);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    util::SetConsoleMode(true);
    testing::internal::CaptureStdout();
    channel->Write("hi", 2, kReadMs);
    const std::string trace = testing::internal::GetCapturedStdout();
    EXPECT_NE(trace.find("*******************************CALLING CTCPSChannel Write!!!!!\n"),
              std::string::npos)
        << trace;
    util::SetConsoleMode(false);

    EXPECT_EQ(channel->Disconnect(), 0);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(RaisedBy<CIPCError>([&] { channel->Write("x", 1, 10); }).Line(), 161);
    char buffer[4];
    EXPECT_EQ(RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, 10); }).Line(), 207);
    EXPECT_EQ(channel->Disconnect(), 0);
}

// Bad input from the server.

TEST_F(TcpSChannel, GarbageInsteadOfAHandshakeGivesAChannelWhoseCallsRaise) {
    ServerThread server([](sys::FileDescriptor socket) {
        testsupport::ReceiveSome(socket.Get(), 0x10000);  // the client hello
        testsupport::SendAll(socket.Get(), "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        testsupport::ReceiveSome(socket.Get(), 0x10000);  // the client's alert, or its end
    });
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    ASSERT_NE(channel, nullptr);
    // Kept also when no console shows the trace.
    EXPECT_NE(dynamic_cast<ipc::CTCPSChannel&>(*channel).HandshakeFailure().find(
                  "returned by InitializeSecurityContext"),
              std::string::npos);
    EXPECT_EQ(RaisedBy<CIPCError>([&] { channel->Write("x", 1, kReadMs); }).Line(), 161);
    channel->Disconnect();
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, ServerThatClosesDuringTheHandshakeRaisesAndTheCallerKeepsItsTransport) {
    ServerThread server([](sys::FileDescriptor socket) {
        testsupport::ReceiveSome(socket.Get(), 0x10000);
        testsupport::SendAll(socket.Get(), "\x16\x03");  // the start of a record, then the end
    });
    std::unique_ptr<CIPCInterface> tcp = ConnectTcp(server.Port());
    const CIPCInterface* plain = tcp.get();
    const testipc::RaisedIpcError raised =
        testipc::RaisedIpc([&] { CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, tcp); });
    EXPECT_FALSE(raised.moreSpecific);
    EXPECT_STREQ(raised.error.Source(), "SocketIPC");
    EXPECT_EQ(tcp.get(), plain);
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, ServerThatClosesInTheMiddleOfARecordMakesReadRaise) {
    ServerThread server([](sys::FileDescriptor socket) {
        Peer session = Handshaken(std::move(socket));
        session.Queue(std::string(100, 'r'));
        const std::string record = session.TakeQueued();
        testsupport::SendAll(session.Socket(), record.substr(0, record.size() / 2));
    });
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    char buffer[256];
    const CIPCError error =
        RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, kReadMs); });
    EXPECT_NE(error.Value(), 1) << "timed out instead of seeing the end";
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(TcpSChannel, RecordLongerThanTheProtocolAllowsMakesReadRaise) {
    ServerThread server([](sys::FileDescriptor socket) {
        Peer session = Handshaken(std::move(socket));
        // An application-data record header announcing 65535 bytes, and some of them.
        std::string record("\x17\x03\x03\xff\xff", 5);
        record += std::string(1000, 'z');
        testsupport::SendAll(session.Socket(), record);
        testsupport::ReceiveSome(session.Socket(), 64);  // until the client gives up
    });
    const std::unique_ptr<CIPCInterface> channel = ConnectTls(server.Port());
    char buffer[256];
    const CIPCError error =
        RaisedBy<CIPCError>([&] { channel->Read(buffer, sizeof buffer, kReadMs); });
    EXPECT_EQ(
        std::string(error.Message())
            .rfind("CTCPSChannel::Decrypt() - Error decrypting message. The server's records", 0),
        0u)
        << error.Message();
    EXPECT_EQ(error.Line(), 207);
    channel->Disconnect();
    EXPECT_EQ(server.Failure(), "");
}

}  // namespace
