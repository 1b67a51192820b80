// A real agent switching its session to TLS when the test server confirms it.

#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestBasics.h"

namespace {

// A big message crosses many TLS records both ways; CloseSession then ends the encrypted
// session in order. Its reply, which cannot go out once the agent has closed the connection,
// stays with the output queue and reaches the state file, as over plain TCP.
TEST(AgentTlsSession, SessionSwitchesToTlsOnTheServersConfirmationAndGoesOnEncrypted) {
    testsupport::TestPki::Instance();  // its trust store is named before any thread starts
    const testsupport::SettingsSandbox sandbox;
    enginetest::AgentSession session(sandbox);
    session.Start();
    session.Server().Send("Reply=CreateSession\nResult=Success\n");
    ASSERT_TRUE(session.Server().StartTls(testsupport::TestPki::Instance().ServerContext(true)));
    for (const std::string& data : {std::string("small"), std::string(200000, 'x')}) {
        const std::string request = testsupport::Request("Echo", "Data=" + data + "\n");
        session.Server().Send(request);
        EXPECT_EQ(session.Server().Next(), request);
    }
    session.Server().Send(testsupport::Request("Command", "Command=CloseSession\nShutdown=Yes\n"));
    EXPECT_EQ(session.Server().AwaitEnd(), "close_notify");
    EXPECT_TRUE(session.Ended());
    EXPECT_NE(scratch::ReadFile(enginetest::StateFile(sandbox)).find("Returned=true\n"),
              std::string::npos);
}

}  // namespace
