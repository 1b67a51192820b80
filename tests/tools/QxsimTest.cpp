// qxsim run as a child process, with raw-socket clients playing the agent.

#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/TestServer.h"

namespace {

using testsupport::ChildProcess;
using testsupport::Peer;

const char kSessionRequest[] = "Request=CreateSession\nClientID=test-agent\n";

// The port from qxsim's "listening on <address>:<port>" line; 0 when it is not there.
int PortOf(const std::string& line) {
    const std::string::size_type colon = line.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

class Qxsim : public ::testing::Test {
protected:
    // Starts qxsim on a free port with a script of this content (none when empty) and the
    // options given; waits until it listens.
    void Start(const std::string& script, std::vector<std::string> options = {}) {
        std::vector<std::string> arguments = {QXSIM_PATH, "--port=0", "--ca-out=" + CaFile()};
        if (!script.empty()) {
            std::ofstream(folder_ / "session.qxs") << script;
            arguments.push_back("--script=" + folder_ / "session.qxs");
        }
        arguments.insert(arguments.end(), options.begin(), options.end());
        qxsim_ = std::make_unique<ChildProcess>(arguments);
        const std::optional<std::string> listening = qxsim_->WaitForLine("listening on 127.0.0.1:");
        ASSERT_TRUE(listening) << qxsim_->Errors();
        port_ = PortOf(*listening);
    }
    std::string CaFile() const { return folder_ / "ca.pem"; }

    // Plays the agent up to the encrypted session.
    std::unique_ptr<Peer> OpenSession() {
        auto agent = std::make_unique<Peer>(Peer::ConnectTo(port_));
        agent->Send(kSessionRequest);
        EXPECT_EQ(agent->Next(), "Reply=CreateSession\nResult=Success\n");
        EXPECT_TRUE(agent->StartTls(testsupport::ClientContext(CaFile())));
        return agent;
    }

    // Stops qxsim with Ctrl-C and expects a clean end.
    void Interrupt() {
        qxsim_->Signal(SIGINT);
        EXPECT_EQ(qxsim_->WaitForExit(), 0) << qxsim_->Errors();
        EXPECT_NE(qxsim_->Output().find("qxsim: stopped"), std::string::npos);
    }

    scratch::ScratchFolder folder_;
    std::unique_ptr<ChildProcess> qxsim_;
    int port_ = 0;
};

// Two agents at once, each in its own encrypted session that the script runs; an expect
// step takes a message that came while an earlier step waited.
TEST_F(Qxsim, EachAgentGetsItsOwnTlsSessionThatTheScriptRuns) {
    Start(
        "expect Request=CreateSession\n"
        "send Request=GetAgentSettings\n"
        "  Settings=Specified\n"
        "\n"
        "expect Reply=GetAgentSettings\n"
        "expect Request=UpdateUser 3000\n"
        "close\n",
        {"--exit-after=2"});
    std::unique_ptr<Peer> first = OpenSession();
    std::unique_ptr<Peer> second = OpenSession();
    for (Peer* agent : {second.get(), first.get()}) {
        agent->Send("Request=UpdateUser\nUsers=adam\n");
        EXPECT_EQ(agent->Next(), "Request=GetAgentSettings\nSettings=Specified\n");
        agent->Send("Reply=GetAgentSettings\nAgent=" +
                    std::to_string(agent == first.get() ? 1 : 2));
        EXPECT_EQ(agent->NextOrEnd(), std::nullopt);
    }
    EXPECT_EQ(qxsim_->WaitForExit(), 0) << qxsim_->Errors();
    const std::string& output = qxsim_->Output();
    for (const char* line :
         {"[1] IN  Request=CreateSession\n[1]     ClientID=test-agent\n",
          "[1] OUT Reply=CreateSession\n[1]     Result=Success\n", "[1] TLS on (TLSv1.3",
          "[2] OUT Request=GetAgentSettings\n[2]     Settings=Specified\n",
          "[1] IN  Reply=GetAgentSettings\n[1]     Agent=1\n", "[2]     Agent=2\n",
          "[1] disconnected: the script closed the connection\n", "2 agent(s) came and went",
          "certificate authority of this run: "}) {
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n---\n" << output;
    }
    EXPECT_EQ(output.find("nothing came"), std::string::npos);
}

// A refused session stays plain; an agent that leaves in the middle of a message is reported
// and the next one is still served.
TEST_F(Qxsim, RefusedSessionStaysPlainAndAnAgentLeavingMidMessageIsReported) {
    Start("", {"--session=refuse"});
    {
        Peer agent = Peer::ConnectTo(port_);
        agent.Send(kSessionRequest);
        EXPECT_EQ(agent.Next(), "Reply=CreateSession\nResult=Refused\n");
        agent.SendRaw(std::string("Request=KeepAlive\0Request=Half", 30));
    }
    EXPECT_TRUE(qxsim_->WaitForLine(
        "[1] disconnected: the agent closed the connection in the middle of a message (12 bytes "
        "lost)"));
    Peer next = Peer::ConnectTo(port_);
    next.SendRaw(std::string("Request=One\0Request=Two\0", 24));
    EXPECT_TRUE(qxsim_->WaitForLine("[2] IN  Request=Two"));
    const std::string& output = qxsim_->Output();
    EXPECT_NE(output.find("[1] IN  Request=KeepAlive"), std::string::npos) << output;
    EXPECT_NE(output.find("[2] IN  Request=One"), std::string::npos) << output;
    EXPECT_EQ(output.find("TLS on"), std::string::npos) << output;
    Interrupt();
}

// Faulty scripts name their line, bad options are usage errors (2), a port in use is a
// run-time error (1); none of them gets as far as listening.
TEST_F(Qxsim, StartErrorsAreClearAndStopBeforeListening) {
    const testsupport::TestServer taken;
    const std::string script = folder_ / "bad.qxs";
    struct Case {
        std::string script;
        std::string option;
        int exitCode;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"expect Request=CreateSession\n\nsned Request=GetState\n", "", 2,
         script + ":3: unknown command 'sned'"},
        {"send Request=GetState\n  X=1\n", "", 2, script + ":2: the field 'X=1' is not name=value"},
        {"  State=Specific\n", "", 2, script + ":1: an indented field line belongs under a send"},
        {"quit\n", "", 2, script + ":1: quit works only at the keyboard"},
        {"", "--port=70000", 2, "qxsim: "},
        {"", "--session=maybe", 2, "qxsim: "},
        {"", "--verbose", 2, "qxsim: "},
        {"", "--cert=x.pem", 2, "qxsim: "},
        {"", "--port=" + taken.PortText(), 1,
         "cannot listen on 127.0.0.1:" + taken.PortText() + ": Address already in use"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script + c.option);
        std::vector<std::string> arguments = {QXSIM_PATH, c.option};
        if (!c.script.empty()) {
            std::ofstream(script) << c.script;
            arguments = {QXSIM_PATH, "--port=0", "--script=" + script};
        }
        ChildProcess qxsim(arguments);
        EXPECT_EQ(qxsim.WaitForExit(), c.exitCode);
        EXPECT_NE(qxsim.Errors().find(c.error), std::string::npos) << qxsim.Errors();
        EXPECT_EQ(qxsim.Output().find("listening"), std::string::npos);
    }
}

}  // namespace
