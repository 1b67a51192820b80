#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/engine/bootstrap.h"
#include "agent/log/AgentLog.h"
#include "tests/support/AgentSettings.h"
#include "tests/support/Environment.h"
#include "tests/support/TestPeer.h"

namespace bootstraptest {

// Records the pauses. A wait returns at once, as if it had run its full time, unless the
// hook set the event meanwhile; the hook sees the number of the wait, from 1.
class RecordingClock final : public IBootstrapClock {
public:
    void Sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        if (onSleep) {
            onSleep(sleeps.size());
        }
    }
    bool WaitFor(lang::CEvent& event, std::uint32_t milliseconds) override {
        waitSeconds.push_back(milliseconds / 1000);
        if (onWait) {
            onWait(waitSeconds.size());
        }
        return event.Wait(0);
    }

    std::vector<std::uint32_t> sleeps;
    std::vector<std::uint32_t> waitSeconds;
    std::function<void(std::size_t)> onSleep;
    std::function<void(std::size_t)> onWait;
};

// The bootstrap with the session toolbox and a clock of the test's own, over settings of
// its own that log everything to agent.log and name a closed port; the program folder and
// the log lie in the settings sandbox's folder.
class BootstrapTest : public testing::Test {
protected:
    BootstrapTest() {
        std::filesystem::create_directories(ProgramFolder());
        testsupport::StoreLoggingAgent(LogPath(), closedPort_);
        // The process's log follows this test's settings, also when one process runs every
        // test.
        logging::CAgentLog* log = logging::CAgentLog::GetInstance();
        log->InitializeFileLog(true, true, true, LogPath(), 10000000);
        log->SetLogParams(true, true, true, LogPath(), 10000000);
        toolboxes_.Add(WARDEX_SESSION_TOOLBOX);
        bootstrap_.SetToolboxList(toolboxes_);
    }

    std::string ProgramFolder() const { return sandbox_ / "program"; }
    std::string StateFile() const { return sandbox_ / "program/wardex.dat"; }
    std::string LogPath() const { return sandbox_ / "agent.log"; }
    std::string InputFile() const { return sandbox_ / "program/mireton.inp"; }
    // In the relocated root, on Linux.
    std::string ConfigFile() const { return sandbox_ / "mireton.cfg"; }
    std::string RebootRequest() const { return sandbox_ / "run/corvane/reboot-requested"; }

    static void Store(const std::map<std::string, std::string>& settings) {
        testsupport::StoreSettings(settings);
    }
    // The stored value, or "<none>" when the setting is not stored.
    static std::string Stored(const std::string& name) { return testsupport::StoredSetting(name); }
    std::string Log() const { return scratch::ReadFile(LogPath()); }
    // How often the text occurs in the log.
    std::size_t LogCount(const std::string& text) const {
        return testsupport::CountIn(Log(), text);
    }

    // A bootstrap of the row's own, whose first wait stops it; the session count starts anew.
    std::unique_ptr<CBootstrap> StoppedAtFirstWait() {
        std::filesystem::remove(StateFile());
        auto bootstrap = std::make_unique<CBootstrap>(clock_, ProgramFolder());
        bootstrap->SetToolboxList(toolboxes_);
        clock_.onWait = [stop = bootstrap.get()](std::size_t) { stop->SignalShutdown(); };
        return bootstrap;
    }
    // Starts the agent against listener_; the server's side of the connection, past the
    // session request.
    std::unique_ptr<testsupport::Peer> StartServedAgent(CBootstrap& bootstrap) {
        Store({{"TcpPort", listener_.PortText()}});
        EXPECT_TRUE(bootstrap.Start());
        auto server = std::make_unique<testsupport::Peer>(listener_.Accept());
        EXPECT_EQ(server->Next(), "Request=CreateSession\nCount=1\n");
        return server;
    }

    testsupport::SettingsSandbox sandbox_;
    testsupport::TestServer listener_;
    const std::string closedPort_ = std::to_string(testsupport::ClosedPort());
    RecordingClock clock_;
    util::ParamList toolboxes_;
    CBootstrap bootstrap_{clock_, ProgramFolder()};
};

}  // namespace bootstraptest
