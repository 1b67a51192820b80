#include "agent/store/Settings.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestBasics.h"

// ThreadSanitizer does not see the dynamic loader's own lock, which orders every dlopen and
// dlclose of the process: each message loads and frees its toolbox on its own worker, and
// the loader freeing on one worker what it allocated on another would be reported as a race.
extern "C" const char* __tsan_default_suppressions() {
    return "race:_dl_close_worker\n";
}

namespace enginetest {

AgentSession::AgentSession(const testsupport::SettingsSandbox& sandbox, int testConnectionEvery,
                           std::size_t workerLimit, const std::vector<std::string>& toolboxes) {
    const CSettings settings;
    settings.SetSetting("TcpAddr", "127.0.0.1");
    settings.SetSetting("TcpPort", listener_.PortText());
    if (testConnectionEvery != kSettingAbsent) {
        settings.SetSetting("TestConnectionEvery", std::to_string(testConnectionEvery));
    }

    util::ParamList chain;
    for (const std::string& toolbox : toolboxes) {
        chain.Add(toolbox);
    }
    if (toolboxes.empty()) {
        chain.Add(WARDEX_SESSION_TOOLBOX);
    }
    agent_.Init(chain);
    agent_.SetStateFile(StateFile(sandbox));
    agent_.GetInputThread().SetMillisecondsPerMinute(1);
    agent_.GetDispatch().SetWorkerLimit(workerLimit);
}

AgentSession::~AgentSession() {
    // The bootstrap's future waits for it when it goes.
    if (bootstrap_.valid()) {
        agent_.CloseConnection(CQXAgent::kCloseSession);
        server_.reset();
    }
}

void AgentSession::Start() {
    ASSERT_TRUE(agent_.Start());
    server_ = std::make_unique<testsupport::Peer>(listener_.Accept());
    bootstrap_ = std::async(std::launch::async, [this] {
        msg::CQXMessage createSession;
        createSession.SetLead("Internal", "CreateSession");
        agent_.InvokeHandler(&createSession);
        agent_.WaitForClose();
        agent_.Destroy();
    });
    // The count goes on from the state file of an earlier session.
    ASSERT_EQ(server_->Next().rfind("Request=CreateSession\nCount=", 0), 0u);
}

MessagePtr AgentSession::Ask(const std::string& text) {
    server_->Send(text);
    return MakeMessage(server_->Next());
}

bool AgentSession::Ended() {
    const auto wait = std::chrono::milliseconds(testsupport::kPeerWaitMs);
    if (bootstrap_.wait_for(wait) != std::future_status::ready) {
        return false;
    }
    bootstrap_.get();
    return true;
}

}  // namespace enginetest
