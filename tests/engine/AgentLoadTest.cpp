// A real agent under load: a shutdown while workers are busy, a message that comes while
// another waits, and a flood held back by TCP (which also shows the worker limit holds).

#include <fstream>

#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestBasics.h"

namespace {

using enginetest::AgentSession;
using enginetest::MakeMessage;
using testsupport::Request;

TEST(AgentLoadTest, ShutdownWaitsForEveryBusyWorker) {
    const testsupport::SettingsSandbox sandbox;
    constexpr int kWorkers = 20;
    AgentSession session(sandbox);
    session.Start();
    for (int tag = 0; tag < kWorkers; ++tag) {
        session.Server().Send(
            Request("Sleep", "Announce=Yes\nMs=1000\nTag=" + std::to_string(tag)));
    }
    // A worker that started early may finish before the last one has started when the
    // machine is slow (sanitizers, a loaded machine); its reply counts all the same.
    int finished = 0;
    const auto take = [&finished](const std::string& reply) {
        const auto message = MakeMessage(reply);
        if (std::string(message->GetLeadValue()) == "Started") {
            return 1;
        }
        EXPECT_STREQ(message->GetField("Action"), "Sleep");
        ++finished;
        return 0;
    };
    for (int started = 0; started < kWorkers;) {
        started += take(session.Server().Next());
    }
    // The agent reads the end of the stream while the workers sleep. Their replies can only
    // reach the server if the output thread outlives every worker.
    session.Server().HalfClose();
    while (std::optional<std::string> reply = session.Server().NextOrEnd()) {
        EXPECT_EQ(take(*reply), 0) << "a worker started twice";
    }
    EXPECT_EQ(finished, kWorkers);
    EXPECT_TRUE(session.Ended());
}

// A message that comes while another waits in its toolbox gets a thread of its own, also once
// the thread that answered before has parked.
TEST(AgentLoadTest, AMessageWaitingInItsToolboxHoldsUpNoneAfterIt) {
    const testsupport::SettingsSandbox sandbox;
    AgentSession session(sandbox);
    session.Start();
    const std::string echo = Request("Echo");
    session.Server().Send(echo);
    EXPECT_EQ(session.Server().Next(), echo);
    // The thread that answered looks at the queue for a moment longer, then parks.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string gate = sandbox / "gate";
    session.Server().Send(Request("Gate", "GateFile=" + gate + "\n"));
    session.Server().Send(echo);
    EXPECT_EQ(session.Server().Next(), echo);
    std::ofstream(gate).put('x');
}

TEST(AgentLoadTest, FloodFasterThanTheToolboxIsHeldBackByTcp) {
    const testsupport::SettingsSandbox sandbox;
    AgentSession session(sandbox, enginetest::kNoReadTimeout, 1);
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
