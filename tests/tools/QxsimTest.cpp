// qxsim run as a child process, with raw-socket clients playing the agent. A scripted session
// over TLS with the agent itself is the demo session's (scripts/demo-session).

#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/TestPeer.h"

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
    // Starts qxsim on a free port with the options given; waits until it listens.
    void Start(const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {QXSIM_PATH, "--port=0"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        qxsim_ = std::make_unique<ChildProcess>(arguments);
        const std::optional<std::string> listening = qxsim_->WaitForLine("listening on 127.0.0.1:");
        ASSERT_TRUE(listening) << qxsim_->Errors();
        port_ = PortOf(*listening);
    }

    scratch::ScratchFolder folder_;
    std::unique_ptr<ChildProcess> qxsim_;
    int port_ = 0;
};

// A refused session stays plain; an agent that leaves in the middle of a message is reported
// and the next one is still served.
TEST_F(Qxsim, RefusedSessionStaysPlainAndAnAgentLeavingMidMessageIsReported) {
    Start({"--session=refuse"});
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
    qxsim_->Signal(SIGINT);  // Ctrl-C ends it cleanly
    EXPECT_EQ(qxsim_->WaitForExit(), 0) << qxsim_->Errors();
    EXPECT_NE(qxsim_->Output().find("qxsim: stopped"), std::string::npos);
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
