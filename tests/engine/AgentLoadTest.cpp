// A real agent under load and against awkward input: bursts answered exactly once, slow
// toolboxes, a flood held back by TCP (which also shows the
// worker limit holds), and a shutdown while workers are busy.

#include <algorithm>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "agent/engine/DispatchThread.h"
#include "tests/engine/AgentSession.h"

namespace {

using enginetest::AgentSession;
using enginetest::MakeMessage;
using testsupport::Request;

// Thousands of quick requests with the default worker limit, and a slow toolbox (10 ms per
// message) with at most 256 workers at once, so that the dispatch thread has to wait for free
// places again and again: each is answered exactly once, also what the agent still had queued
// when the server ended its side of the stream.
TEST(AgentLoadTest, BurstsAreAnsweredExactlyOnceWithinTheWorkerLimit) {
    const testsupport::SettingsSandbox sandbox;
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
        AgentSession session(sandbox, options);
        session.Start();
        std::string burst;
        std::vector<int> every(static_cast<std::size_t>(c.count));
        for (int tag = 0; tag < c.count; ++tag) {
            burst += Request(c.action, c.lines + ("Tag=" + std::to_string(tag)) + "\n") + '\0';
            every[static_cast<std::size_t>(tag)] = tag;
        }
        auto sending = std::async(std::launch::async, [&] { session.Server().SendRaw(burst); });
        std::vector<int> tags;
        for (int received = 0; received < c.count; ++received) {
            tags.push_back(MakeMessage(session.Server().Next())->GetFieldInt("Tag"));
        }
        sending.get();
        session.Server().HalfClose();
        while (std::optional<std::string> extra = session.Server().NextOrEnd()) {
            tags.push_back(MakeMessage(*extra)->GetFieldInt("Tag"));
        }
        EXPECT_TRUE(session.Ended());
        std::sort(tags.begin(), tags.end());
        EXPECT_TRUE(tags == every) << "a reply was lost or came twice";
    }
}

TEST(AgentLoadTest, ShutdownWaitsForEveryBusyWorker) {
    const testsupport::SettingsSandbox sandbox;
    constexpr int kWorkers = 20;
    AgentSession session(sandbox);
    session.Start();
    for (int tag = 0; tag < kWorkers; ++tag) {
        session.Server().Send(Request("Sleep", "Announce=Yes\nMs=300\nTag=" + std::to_string(tag)));
    }
    for (int started = 0; started < kWorkers; ++started) {
        ASSERT_STREQ(MakeMessage(session.Server().Next())->GetLeadValue(), "Started");
    }
    // The agent reads the end of the stream while all of them sleep. Their replies can only
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

TEST(AgentLoadTest, FloodFasterThanTheToolboxIsHeldBackByTcp) {
    const testsupport::SettingsSandbox sandbox;
    AgentSession::Options options;
    options.workerLimit = 1;
    AgentSession session(sandbox, options);
    session.Start();
    // The only worker waits at the gate, so nothing more is dispatched.
    const std::string gate = sandbox / "gate";
    session.Server().Send(Request("Gate", "GateFile=" + gate + "\n"));

    constexpr std::size_t kFlood = std::size_t{128} << 20;
    const std::string message = Request("Drop", "Data=" + std::string(100000, 'f') + "\n") + '\0';
    const std::size_t taken =
        testsupport::SendUntilHeldBack(session.Server().Socket(), message, kFlood);
    // The input queue's limit and the socket buffers hold much less than the flood.
    EXPECT_LT(taken, kFlood / 2);

    std::ofstream(gate).put('x');
    session.Server().HalfClose();
    EXPECT_EQ(session.Server().NextOrEnd(), std::nullopt);
    EXPECT_TRUE(session.Ended());
}

}  // namespace
