// qxsim run as a child process, with a raw-socket client playing the agent. A scripted session
// over TLS with the agent itself is the demo session's (scripts/demo-session).

#include <signal.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestBasics.h"
#include "tests/support/TestPeer.h"

namespace {

using testsupport::ChildProcess;

// A refused session stays plain, and Ctrl-C ends qxsim cleanly.
TEST(Qxsim, RefusedSessionStaysPlainAndAnInterruptEndsIt) {
    ChildProcess qxsim({QXSIM_PATH, "--port=0", "--session=refuse"});
    const std::optional<std::string> listening = qxsim.WaitForLine("listening on 127.0.0.1:");
    ASSERT_TRUE(listening) << qxsim.Errors();
    testsupport::Peer agent(
        testsupport::Connect(std::atoi(listening->c_str() + listening->rfind(':') + 1)));
    agent.Send("Request=CreateSession\nClientID=test-agent\n");
    EXPECT_EQ(agent.Next(), "Reply=CreateSession\nResult=Refused\n");
    agent.Send("Request=KeepAlive\n");
    EXPECT_TRUE(qxsim.WaitForLine("[1] IN  Request=KeepAlive"));
    EXPECT_EQ(qxsim.Output().find("TLS on"), std::string::npos) << qxsim.Output();
    qxsim.Signal(SIGINT);
    EXPECT_EQ(qxsim.WaitForExit(), 0) << qxsim.Errors();
    EXPECT_NE(qxsim.Output().find("qxsim: stopped"), std::string::npos);
}

// Faulty scripts name their line, bad options are usage errors (2), a port in use is a
// run-time error (1); none of them gets as far as listening.
TEST(Qxsim, StartErrorsAreClearAndStopBeforeListening) {
    const scratch::ScratchFolder folder;
    const testsupport::TestServer taken;
    const std::string script = folder / "bad.qxs";
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
        {"", "--port=70000", 2, "qxsim: "},
        {"", "--session=maybe", 2, "qxsim: "},
        {"", "--port=" + taken.PortText(), 1,
         "cannot listen on 127.0.0.1:" + taken.PortText() + ": Address already in use"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script + c.option);
        std::vector<std::string> arguments = {QXSIM_PATH, c.option};
        if (!c.script.empty()) {
            scratch::WriteFile(script, c.script);
            arguments = {QXSIM_PATH, "--port=0", "--script=" + script};
        }
        ChildProcess qxsim(arguments);
        EXPECT_EQ(qxsim.WaitForExit(), c.exitCode);
        EXPECT_NE(qxsim.Errors().find(c.error), std::string::npos) << qxsim.Errors();
        EXPECT_EQ(qxsim.Output().find("listening"), std::string::npos);
    }
}

}  // namespace
