#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>

#include "agent/AgentSocket.h"
#include "common/err/Errors.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestServer.h"

namespace {

using namespace std::string_literals;
using enginetest::kPatienceMs;

// Reads on a thread of its own until the read raises, and tells whether it did.
class BlockedReader {
public:
    explicit BlockedReader(CAgentSocket& socket)
        : result_(std::async(std::launch::async, [&socket] {
              char buffer[64];
              try {
                  for (;;) {
                      socket.Read(buffer, sizeof buffer, lang::kInfinite);
                  }
              } catch (const ipc::CIPCError&) {
                  return true;
              }
          })) {}

    bool RaisedWithin(std::chrono::milliseconds wait) {
        return result_.wait_for(wait) == std::future_status::ready && result_.get();
    }

private:
    std::future<bool> result_;
};

// How long a server keeps its connection open for a test that has not finished with it: far
// longer than a test waits for a reader to be woken, so that only Close can wake it.
constexpr std::chrono::seconds kServerPatience{60};

// Long enough for the reader to be blocked in its read before the test closes the socket.
void LetTheReaderBlock() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(AgentSocket, CloseWakesAReaderBlockedOnThePlainConnection) {
    std::promise<void> done;
    testsupport::ServerThread server([finished = done.get_future().share()](sys::FileDescriptor) {
        finished.wait_for(kServerPatience);
    });
    CAgentSocket socket(ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP));
    socket.Connect("127.0.0.1", server.Port());
    BlockedReader reader(socket);
    LetTheReaderBlock();
    socket.Close();
    EXPECT_TRUE(reader.RaisedWithin(std::chrono::milliseconds(kPatienceMs)));
    done.set_value();
    EXPECT_TRUE(socket.IsClosed());
    char byte;
    EXPECT_THROW(socket.Read(&byte, 1, 0), ipc::CIPCError);
    EXPECT_EQ(server.Failure(), "");
}

TEST(AgentSocket, CloseWakesAReaderBlockedOnTheEncryptedConnection) {
    testsupport::TestPki::Instance();
    std::promise<void> done;
    testsupport::ServerThread server(
        [finished = done.get_future().share()](sys::FileDescriptor socket) {
            testsupport::Peer session(std::move(socket));
            if (!session.StartTls(testsupport::TestPki::Instance().ServerContext(true))) {
                throw std::runtime_error("handshake failed");
            }
            if (session.Receive(6) != "Hello\0"s) {
                throw std::runtime_error("wrong data");
            }
            finished.wait_for(kServerPatience);
        });
    CAgentSocket socket(ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP));
    socket.Connect("127.0.0.1", server.Port());
    socket.EncryptSocket();
    EXPECT_GE(socket.Write("Hello\0", 6, kPatienceMs), 6);
    BlockedReader reader(socket);
    LetTheReaderBlock();
    socket.Close();
    EXPECT_TRUE(reader.RaisedWithin(std::chrono::milliseconds(kPatienceMs)));
    done.set_value();
    EXPECT_EQ(server.Failure(), "");
}

TEST(AgentSocket, AFailedSwitchToEncryptionKeepsThePlainConnection) {
    const std::string marker = "Request=Plain\0"s;
    std::string seen;
    testsupport::ServerThread server([&](sys::FileDescriptor socket) {
        // Take the client's first handshake bytes, then end this direction only.
        seen = testsupport::ReceiveSome(socket.Get(), 16384);
        ::shutdown(socket.Get(), SHUT_WR);
        while (seen.size() < marker.size() ||
               seen.compare(seen.size() - marker.size(), marker.size(), marker) != 0) {
            const std::string more = testsupport::ReceiveSome(socket.Get(), 16384);
            if (more.empty()) {
                throw std::runtime_error("the plain message did not arrive");
            }
            seen += more;
        }
    });
    CAgentSocket socket(ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP));
    socket.Connect("127.0.0.1", server.Port());
    EXPECT_THROW(socket.EncryptSocket(), ipc::CIPCError);
    EXPECT_EQ(socket.Write(marker.data(), static_cast<unsigned>(marker.size()), kPatienceMs),
              static_cast<int>(marker.size()));
    EXPECT_EQ(server.Failure(), "");
}

}  // namespace
