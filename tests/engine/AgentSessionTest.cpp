// A real agent against a test server on the loopback interface and the session toolbox: the
// session request, every built-in command as the server sees its reply, the message sink, the
// pings to a silent server, the end of a session and what outlives it in the state file.

#include "agent/store/Settings.h"
#include "common/err/Errors.h"
#include "common/util/ParamList.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestBasics.h"
#include "tests/toolbox/ToolboxFiles.h"

namespace {

using enginetest::AgentSession;
using enginetest::MakeMessage;
using enginetest::MessagePtr;
using testsupport::Request;

class AgentSessionTest : public ::testing::Test {
protected:
    testsupport::SettingsSandbox sandbox_;
    const std::string stateFile_ = enginetest::StateFile(sandbox_);
};

// The built-in commands and the message sink in one session, each step seeing what the ones
// before it stored or parked. The reply holds each "Name=value" line given (an empty value: the
// field is empty or absent). A session reply without "Success" keeps the session plain.
TEST_F(AgentSessionTest, BuiltInCommandsAndTheMessageSinkAnswerTheServer) {
    const auto command = [](const std::string& lines) {
        return Request("Command", "Command=" + lines);
    };
    const std::string ending = sizeof(void*) == 4 ? ".X86.exe" : ".X64.exe";
    const std::string file = "corvane-wardex-6.8.282" + ending;
    const std::string pattern = "agents\\mireton\\corvane-wardex-*" + ending;
    const std::vector<std::pair<std::string, std::string>> steps = {
        {command("SetState\nTask-Sequence-ID=42\nStatus-Code=7\nNot-A-State=1\n"),
         "Returned=true\n"},
        {command("GetState\nState=Specific\nTask-Sequence-ID=\nSchedule-ID=\n"),
         "Task-Sequence-ID=42\nSchedule-ID=\n"},
        // Without "State=Specific" the message is replaced by every stored value.
        {command("GetState\n"), "Task-Sequence-ID=42\nStatus-Code=7\nNot-A-State=\nAction=\n"},
        {command("GetAgentSettings\nSettings=Specified\nTcpAddr=\nTestConnectionEvery=\nTag=7\n"),
         "TcpAddr=127.0.0.1\nTestConnectionEvery=600000\nTcpPort=\nTag=7\nReturned=true\n"},
        {command("SetAgentSettings\nLogSize=123456\n"), "Returned=true\n"},
        {command("GetAgentSettings\n"), "LogSize=123456\nTcpAddr=127.0.0.1\n"},
        {command("AgentUpdateInfo\n"), "Auto-Update-Current0=" + file + "\nAuto-Update-Pattern0=" +
                                           pattern + "\nAuto-Update-Count=1\n"},
        {command("AgentUpdateInfo\nAuto-Update-Count=1\nAuto-Update-Current0=kept\n"),
         "Auto-Update-Current0=kept\nAuto-Update-Current1=" + file +
             "\nAuto-Update-Pattern1=" + pattern + "\nAuto-Update-Count=2\n"},
        // Accepted without effect.
        {command("ClearState\nTag=1\n"), "Command=ClearState\nReturned=true\nTag=1\n"},
        {command("StopService\n"), "Command=StopService\nReturned=true\n"},
        {command("RestartService\n"), "Command=RestartService\nReturned=true\n"},
        {command("getstate\nTag=1\n"), "getstate=BadCommand\nReturned=false\nCommand=\n"},
        // Parked messages come back by their sink type, the oldest or the newest first.
        {Request("Park", "SinkType=5\nTag=a\n"), "Reply=Parked\nTag=a\n"},
        {Request("Park", "SinkType=5\nTag=b\n"), "Reply=Parked\nTag=b\n"},
        {Request("Park", "SinkType=5\nTag=c\n"), "Reply=Parked\nTag=c\n"},
        {Request("Park", "SinkType=6\nTag=d\n"), "Reply=Parked\nTag=d\n"},
        {Request("Fetch", "SinkType=5\n"), "Request=Work\nTag=a\nFetched=Yes\n"},
        {Request("FetchReverse", "SinkType=5\n"), "Tag=c\nSinkType=5\nFetched=Yes\n"},
        {Request("Fetch", "SinkType=9\n"), "Reply=Empty\n"},
        {Request("FetchReverse", "SinkType=5\n"), "Tag=b\nFetched=Yes\n"},
        {Request("Fetch", "SinkType=5\n"), "Reply=Empty\n"},
        {Request("FetchReverse", "SinkType=5\n"), "Reply=Empty\n"},
        {Request("Fetch", "SinkType=6\n"), "Tag=d\nSinkType=6\nFetched=Yes\n"},
        // One left parked at the end is released with the sink.
        {Request("Park", "SinkType=5\nTag=e\n"), "Reply=Parked\nTag=e\n"},
    };
    AgentSession session(sandbox_);
    session.Start();
    session.Server().Send("Reply=CreateSession\nResult=Failure\n");
    for (const auto& [request, expected] : steps) {
        SCOPED_TRACE(request);
        session.Server().Send(request);
        const std::string text = session.Server().Next();
        const MessagePtr message = MakeMessage(text);
        for (const std::string& line : scratch::Lines(expected)) {
            const std::size_t split = line.find('=');
            EXPECT_EQ(message->GetField(line.substr(0, split).c_str()), line.substr(split + 1))
                << text;
        }
    }
}

// A toolbox file replaced while the agent runs answers the next message: the library is freed
// after every message that ran alone, so the file is read again. A stream of messages passes
// the first build of the chain's first toolbox; once the stream has been answered and the
// library is free, the file is replaced and the next stream passes the second build.
TEST_F(AgentSessionTest, AToolboxFileReplacedWhileTheAgentRunsAnswersTheNextMessages) {
    const std::string swapped = sandbox_ / tbxtest::File("swapped");
    const auto install = [&swapped](const std::string& build) {
        std::filesystem::copy_file(tbxtest::Toolbox(build), swapped + ".new");
        std::filesystem::rename(swapped + ".new", swapped);
    };
    install("testtbx_next");
    AgentSession session(sandbox_, enginetest::kNoReadTimeout, CDispatch::kDefaultWorkerLimit,
                         {swapped, WARDEX_SESSION_TOOLBOX});
    session.Start();
    const auto stream = [&session](const std::string& trail) {
        std::string requests;
        for (int tag = 1; tag <= 3; ++tag) {
            requests += Request("Echo", "Tag=" + std::to_string(tag) + "\n") + '\0';
        }
        session.Server().SendRaw(requests);
        for (int tag = 1; tag <= 3; ++tag) {
            EXPECT_STREQ(MakeMessage(session.Server().Next())->GetField("Trail"), trail.c_str());
        }
    };
    stream("testtbx_next;");
    for (int waited = 0; tbxtest::IsLoaded(swapped) && waited < 5000; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    install("testtbx_next2");
    stream("testtbx_next2;");
}

// How a session ends: CloseSession ends it in both directions at once, and its reply, which
// cannot go out, is kept with the output queue; only "Shutdown" exactly "Yes" marks the agent
// to stop. A peer that closes or resets ends it too. Each time the state reaches the state
// file.
TEST_F(AgentSessionTest, EachEndOfASessionSavesTheState) {
    struct Case {
        const char* name;
        std::string end;  // the CloseSession command's lines; "close" or "reset" by the peer
        bool closeRequested;
    };
    const std::vector<Case> cases = {
        {"close", "", false},
        {"shutdown", "Shutdown=Yes\n", true},
        {"shutdown in another case", "Shutdown=yes\n", false},
        {"peer closes", "close", false},
        {"peer resets", "reset", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AgentSession session(sandbox_);
        session.Start();
        session.Ask(
            Request("Command", "Command=SetState\nTask-Sequence-ID=" + std::string(c.name)));
        const bool byPeer = c.end == "close" || c.end == "reset";
        if (byPeer) {
            c.end == "reset" ? session.Server().Reset() : session.Server().Close();
        } else {
            session.Server().Send(Request("Command", "Command=CloseSession\n" + c.end));
            EXPECT_EQ(session.Server().NextOrEnd(), std::nullopt);
        }
        ASSERT_TRUE(session.Ended());
        EXPECT_EQ(session.Agent().IsCloseRequested(), c.closeRequested);
        const std::string saved = scratch::ReadFile(stateFile_);
        EXPECT_NE(saved.find(c.name), std::string::npos);
        EXPECT_EQ(saved.find("Returned=true\n") != std::string::npos, !byPeer);
        std::filesystem::remove(stateFile_);
    }
}

// A start that cannot connect is raised, and the agent's end still saves the state; a state
// file that could not be read was set aside first.
TEST_F(AgentSessionTest, AFailedConnectIsRaisedAndTheEndStillSavesTheState) {
    const std::string damaged = "22 serialization::archive 99 0 0";
    scratch::WriteFile(stateFile_, damaged);
    const CSettings settings;
    settings.SetSetting("TcpAddr", "127.0.0.1");
    settings.SetSetting("TcpPort", std::to_string(testsupport::ClosedPort()));
    CQXAgent agent;
    agent.Init(util::ParamList());
    agent.SetStateFile(stateFile_);
    EXPECT_THROW(agent.Start(), ipc::CIPCError);
    agent.GetAgentState().Set("Task-Type", "after a failed start");
    agent.Destroy();
    EXPECT_NE(scratch::ReadFile(stateFile_).find("after a failed start"), std::string::npos);
    EXPECT_EQ(scratch::ReadFile(stateFile_ + ".damaged"), damaged);
}

// The setting counts minutes, each one millisecond long here: a ping per silence reaches the
// server through the toolbox, and the session goes on after them. Without the setting, the
// connection is tested after 15 minutes of silence (a second each here, so that no ping comes
// before the session request on a busy machine).
TEST_F(AgentSessionTest, SilentPeerGetsPingsAndTheSessionGoesOn) {
    // The sessions share the settings: the one without the setting goes first.
    for (const int every : {enginetest::kSettingAbsent, 50}) {
        SCOPED_TRACE(every);
        AgentSession session(sandbox_, every);
        const std::uint32_t minuteMs = every == enginetest::kSettingAbsent ? 1000 : 1;
        session.Agent().GetInputThread().SetMillisecondsPerMinute(minuteMs);
        session.Start();
        for (int ping = 0; every != enginetest::kSettingAbsent && ping < 3; ++ping) {
            EXPECT_EQ(session.Server().Next(), "Reply=Ping\nTag=\n");
        }
        const std::string echo = Request("Echo", "Tag=after\n");
        session.Server().Send(echo);
        std::string reply;
        while ((reply = session.Server().Next()) == "Reply=Ping\nTag=\n") {
        }
        ASSERT_EQ(reply, echo) << "the input thread has read its settings";
        EXPECT_EQ(session.Agent().GetInputThread().ReadTimeoutMs(),
                  (every == enginetest::kSettingAbsent ? 15u : 50u) * minuteMs);
    }
}

}  // namespace
