// A real agent under load and against awkward input: bursts answered exactly once, slow
// toolboxes, messages cut into single bytes, a flood held back by TCP, and a shutdown while
// workers are busy.

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "agent/engine/DispatchThread.h"
#include "tests/engine/AgentSession.h"

namespace {

using enginetest::AgentSession;
using enginetest::MakeMessage;
using testsupport::Request;

// The thread count of this process.
std::size_t ThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoul(line.substr(8));
        }
    }
    return 0;
}

// Room for the main thread, the bootstrap, the three connection threads, the collector and
// the test's own helpers besides the workers.
constexpr std::size_t kThreadsBesideWorkers = 10;

// Notes the highest thread count of the process while it lives.
class ThreadPeak {
public:
    ThreadPeak()
        : thread_([this] {
              while (!stop_) {
                  peak_ = std::max(peak_.load(), ThreadCount());
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~ThreadPeak() { Stop(); }
    std::size_t Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return peak_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> peak_{0};
    std::thread thread_;
};

// Sends the bytes on a thread of its own, so that the test reads replies meanwhile.
class Sender {
public:
    Sender(testsupport::Peer& server, std::string bytes)
        : thread_([&server, bytes = std::move(bytes), this] {
              try {
                  server.SendRaw(bytes);
              } catch (const std::exception& error) {
                  failure_ = error.what();
              }
          }) {}
    ~Sender() { Join(); }
    std::string Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return failure_;
    }

private:
    std::string failure_;
    std::thread thread_;
};

class AgentLoadTest : public ::testing::Test {
protected:
    // Sends count echo-like requests tagged 0 to count - 1 in one stream, reads as many
    // replies, ends the session and checks that every tag came back exactly once.
    static void ExpectEachAnsweredOnce(AgentSession& session, const std::string& action,
                                       const std::string& lines, int count) {
        std::string burst;
        for (int tag = 0; tag < count; ++tag) {
            burst += Request(action, lines + "Tag=" + std::to_string(tag) + "\n") + '\0';
        }
        Sender sender(session.Server(), burst);
        std::vector<int> seen(static_cast<std::size_t>(count), 0);
        for (int received = 0; received < count; ++received) {
            const int tag = MakeMessage(session.Server().Next())->GetFieldInt("Tag");
            ASSERT_GE(tag, 0);
            ASSERT_LT(tag, count);
            ++seen[static_cast<std::size_t>(tag)];
        }
        EXPECT_EQ(sender.Join(), "");
        // Whatever the agent still had queued arrives before its end of the stream.
        session.Server().HalfClose();
        while (std::optional<std::string> extra = session.Server().NextOrEnd()) {
            ADD_FAILURE() << "a reply came twice: " << *extra;
        }
        EXPECT_TRUE(session.Ended());
        for (int tag = 0; tag < count; ++tag) {
            EXPECT_EQ(seen[static_cast<std::size_t>(tag)], 1) << "tag " << tag;
        }
    }

    static void Open(AgentSession& session) {
        session.Start();
        ASSERT_STREQ(MakeMessage(session.Server().Next())->GetLeadValue(), "CreateSession");
    }

    enginetest::TempRoot root_;
};

// Thousands of quick requests with the default worker limit, and a slow toolbox (10 ms per
// message) with at most 256 workers at once, so that the dispatch thread has to wait for free
// places again and again.
TEST_F(AgentLoadTest, BurstsAreAnsweredExactlyOnceWithinTheWorkerLimit) {
    struct Case {
        const char* action;
        const char* lines;
        int count;
        std::size_t workerLimit;
    };
    for (const Case& c : {Case{"Echo", "", 10000, CDispatch::kDefaultWorkerLimit},
                          Case{"Sleep", "Ms=10\n", 20000, 256}}) {
        SCOPED_TRACE(c.action);
        AgentSession::Options options;
        options.workerLimit = c.workerLimit;
        AgentSession session(root_, options);
        Open(session);
        ThreadPeak threads;
        ExpectEachAnsweredOnce(session, c.action, c.lines, c.count);
        EXPECT_LE(threads.Stop(), c.workerLimit + kThreadsBesideWorkers);
    }
}

// Binary bytes and a text that is no message are passed over; a message cut into single
// bytes arrives whole.
TEST_F(AgentLoadTest, OddInputIsSurvivedAndSingleBytesMakeAWholeMessage) {
    AgentSession session(root_);
    Open(session);
    std::string binary;
    for (int byte = 1; byte < 256; ++byte) {
        binary += static_cast<char>(byte);
    }
    const std::string request = Request("Echo", "Data=" + std::string(300, 'd') + "\nTag=bytes\n");
    session.Server().SendRaw(binary + '\0' + "no separator at all" + '\0' + request + '\0', 1);
    EXPECT_EQ(session.Server().Next(), request);
}

TEST_F(AgentLoadTest, ShutdownWaitsForEveryBusyWorker) {
    constexpr int kWorkers = 20;
    AgentSession session(root_);
    Open(session);
    for (int tag = 0; tag < kWorkers; ++tag) {
        session.Server().Send(Request("Sleep", "Announce=Yes\nMs=300\nTag=" + std::to_string(tag)));
    }
    for (int started = 0; started < kWorkers; ++started) {
        ASSERT_STREQ(MakeMessage(session.Server().Next())->GetLeadValue(), "Started");
    }
    // The agent reads the end of the stream while all fifty sleep. Their replies can only
    // reach the server if the output thread outlives every worker.
    session.Server().HalfClose();
    int finished = 0;
    while (std::optional<std::string> reply = session.Server().NextOrEnd()) {
        EXPECT_STREQ(MakeMessage(*reply)->GetField("Action"), "Sleep");
        ++finished;
    }
    EXPECT_EQ(finished, kWorkers);
    EXPECT_TRUE(session.Ended());
}

// Sends without waiting until the agent has stopped taking bytes for a while; returns the
// number of bytes it took.
std::size_t FloodUntilHeldBack(int socket, const std::string& message, std::size_t limit) {
    std::size_t sent = 0;
    while (sent < limit) {
        const std::size_t offset = sent % message.size();
        const ssize_t count = ::send(socket, message.data() + offset, message.size() - offset,
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN) {
            break;
        }
        pollfd entry{socket, POLLOUT, 0};
        if (::poll(&entry, 1, 1000) == 0) {
            break;
        }
    }
    return sent;
}

TEST_F(AgentLoadTest, FloodFasterThanTheToolboxIsHeldBackByTcp) {
    AgentSession::Options options;
    options.workerLimit = 1;
    AgentSession session(root_, options);
    Open(session);
    // The only worker waits at the gate, so nothing more is dispatched.
    const std::string gate = root_.Path() + "/gate";
    session.Server().Send(Request("Gate", "GateFile=" + gate + "\n"));

    constexpr std::size_t kFlood = std::size_t{128} << 20;
    const std::string message = Request("Drop", "Data=" + std::string(100000, 'f') + "\n") + '\0';
    const std::size_t taken = FloodUntilHeldBack(session.Server().Socket(), message, kFlood);
    // The input queue's limit and the socket buffers hold much less than the flood.
    EXPECT_LT(taken, kFlood / 2);

    std::ofstream(gate).put('x');
    session.Server().HalfClose();
    EXPECT_EQ(session.Server().NextOrEnd(), std::nullopt);
    EXPECT_TRUE(session.Ended());
}

}  // namespace
