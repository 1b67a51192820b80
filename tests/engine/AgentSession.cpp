#include "tests/engine/AgentSession.h"

#include <chrono>
#include <gtest/gtest.h>

#include "agent/store/Settings.h"

// ThreadSanitizer does not see the dynamic loader's own lock, which orders every dlopen and
// dlclose of the process: each message loads and frees its toolbox on its own worker, and
// the loader freeing on one worker what it allocated on another would be reported as a race.
extern "C" const char* __tsan_default_suppressions() {
    return "race:_dl_close_worker\n";
}

namespace enginetest {

AgentSession::AgentSession(const testsupport::SettingsSandbox& sandbox, const Options& options) {
    const CSettings settings;
    settings.SetSetting("TcpAddr", "127.0.0.1");
    settings.SetSetting("TcpPort", listener_.PortText());
    settings.SetSetting("TestConnectionEvery", std::to_string(options.testConnectionEvery));

    util::ParamList toolboxes;
    toolboxes.Add(WARDEX_SESSION_TOOLBOX);
    agent_.Init(toolboxes);
    agent_.SetStateFile(StateFile(sandbox));
    agent_.GetInputThread().SetMillisecondsPerMinute(1);
    if (options.workerLimit > 0) {
        agent_.GetDispatchThread().SetWorkerLimit(options.workerLimit);
    }
}

AgentSession::~AgentSession() {
    if (bootstrap_.joinable()) {
        agent_.CloseConnection(CQXAgent::kCloseSession);
        server_.reset();
        bootstrap_.join();
    }
}

void AgentSession::Start() {
    ASSERT_TRUE(agent_.Start());
    server_ = std::make_unique<testsupport::Peer>(listener_.Accept());
    bootstrap_ = std::thread([this] { Bootstrap(); });
    // The count goes on from the state file of an earlier session.
    ASSERT_EQ(server_->Next().rfind("Request=CreateSession\nCount=", 0), 0u);
}

MessagePtr AgentSession::Ask(const std::string& text) {
    server_->Send(text);
    return MakeMessage(server_->Next());
}

void AgentSession::Bootstrap() {
    msg::CQXMessage createSession;
    createSession.SetLead("Internal", "CreateSession");
    agent_.InvokeHandler(&createSession);
    agent_.WaitForClose();
    agent_.Destroy();
    ended_.set_value();
}

bool AgentSession::Ended(int waitMs) {
    if (endedFuture_.wait_for(std::chrono::milliseconds(waitMs)) != std::future_status::ready) {
        return false;
    }
    if (bootstrap_.joinable()) {
        bootstrap_.join();
    }
    return true;
}

}  // namespace enginetest
