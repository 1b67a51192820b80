// Run as root, the agent uses no file that carries commands (a toolbox, the settings input
// file, the configuration file) when someone else could have changed it or its folder: the
// refusal is logged with the reason, the file is left as it is, and once mended it is used.

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "agent/engine/bootstrap.h"
#include "agent/log/AgentLog.h"
#include "agent/toolbox/TbxDispatch.h"
#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "tests/support/AgentWorld.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/Unprivileged.h"
#include "tests/toolbox/ToolboxFiles.h"

namespace {

using testsupport::AgentWorld;

// The bootstrap's pause before it reads the settings input file costs nothing here.
class NoWaitClock final : public IBootstrapClock {
public:
    void Sleep(std::uint32_t) override {}
    bool WaitFor(lang::CEvent& event, std::uint32_t) override { return event.Wait(0); }
};

// The text after the last occurrence of the marker, up to the end of its line.
std::string AfterLast(const std::string& text, const std::string& marker) {
    const auto at = text.rfind(marker);
    if (at == std::string::npos) {
        return "nothing logged";
    }
    const auto from = at + marker.size();
    return text.substr(from, text.find('\n', from) - from);
}

class FileTrust : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the files are only checked when the agent runs as root";
        }
        logging::CAgentLog* log = logging::CAgentLog::GetInstance();
        log->InitializeFileLog(true, true, true, world_.LogPath(), 10000000);
        log->SetLogParams(true, true, true, world_.LogPath(), 10000000);
        std::filesystem::create_directory(ToolboxFolder());
        std::filesystem::copy_file(tbxtest::Toolbox("testtbx_success"), toolbox_);
    }

    std::string ToolboxFolder() const { return world_.Scratch() / "toolboxes"; }

public:
    // The attempts a row names, public so that the test can take their addresses.
    // "used" when the copied toolbox handled a message, else what the loader reported.
    std::string OfferToToolbox() {
        testsupport::RecordingAgent agent;
        util::ParamList list;
        list.Add(toolbox_);
        msg::CQXMessage message;
        try {
            TbxDispatch(list).HandleMessage(&message, &agent);
            return message.GetField("Trail") == std::string("testtbx_success;") ? "used" : "?";
        } catch (const err::CGeneralError&) {
            std::string log;
            for (const testsupport::LogLine& line : agent.Lines()) {
                log += line.text + "\n";
            }
            return AfterLast(log, toolbox_ + " - ");
        }
    }

    // "used" when a run applied the settings input file and consumed it, else what it logged.
    std::string RunWithInputFile() {
        const std::string id = "pc-" + std::to_string(++runs_);
        scratch::WriteFile(world_.InputFile(), "ClientID=" + id + "\n");
        Run();
        if (!std::filesystem::exists(world_.InputFile())) {
            return AgentWorld::Stored("ClientID") == id ? "used" : "consumed, not applied";
        }
        return scratch::ReadFile(world_.InputFile()) != "ClientID=" + id + "\n"
                   ? "changed"
                   : AfterLast(world_.Log(), "the settings input file is not applied: ");
    }

    // "used" when a run offered the configuration file to the toolboxes, else what it logged.
    std::string RunWithConfigFile() {
        const std::string result = "Configured-" + std::to_string(++runs_);
        scratch::WriteFile(world_.ConfigFile(), result + "\n");
        Run();
        return world_.LogCount("Result=" + result) == 1
                   ? "used"
                   : AfterLast(world_.Log(), "configuration skipped: ");
    }

protected:
    void Run() {
        NoWaitClock clock;
        util::ParamList toolboxes;
        toolboxes.Add(WARDEX_SESSION_TOOLBOX);
        CBootstrap(clock, world_.ProgramFolder()).RunOnce(toolboxes, false);
    }

    AgentWorld world_;
    const std::string toolbox_ = ToolboxFolder() + "/" + tbxtest::File("testtbx_success");
    int runs_ = 0;
};

// Each row makes one file or folder writable by others, or another user's; the file it
// guards is refused with the reason naming that entry, and used once the entry is mended.
TEST_F(FileTrust, ARootAgentUsesNoCommandFileThatOthersCouldHaveChanged) {
    using Attempt = std::string (FileTrust::*)();
    struct Row {
        std::string entry;
        mode_t mode;
        uid_t owner;
        Attempt attempt;
        const char* reason;
    };
    constexpr uid_t kRoot = 0;
    const std::vector<Row> rows = {
        {toolbox_, 0775, kRoot, &FileTrust::OfferToToolbox, "is writable by others"},
        {ToolboxFolder(), 0757, kRoot, &FileTrust::OfferToToolbox, "is writable by others"},
        {toolbox_, 0755, testsupport::kNobody, &FileTrust::OfferToToolbox,
         "is owned by another user"},
        {world_.InputFile(), 0664, kRoot, &FileTrust::RunWithInputFile, "is writable by others"},
        {world_.ProgramFolder(), 0777, kRoot, &FileTrust::RunWithInputFile,
         "is writable by others"},
        {world_.ConfigFile(), 0666, kRoot, &FileTrust::RunWithConfigFile, "is writable by others"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry);
        if (!std::filesystem::exists(row.entry)) {
            scratch::WriteFile(row.entry, "");
        }
        struct stat mended {};
        ASSERT_EQ(::stat(row.entry.c_str(), &mended), 0);
        ASSERT_EQ(::chown(row.entry.c_str(), row.owner, -1), 0);
        ASSERT_EQ(::chmod(row.entry.c_str(), row.mode), 0);
        EXPECT_EQ((this->*row.attempt)(), row.entry + " " + row.reason);
        ASSERT_EQ(::chown(row.entry.c_str(), kRoot, -1), 0);
        ASSERT_EQ(::chmod(row.entry.c_str(), mended.st_mode & 07777), 0);
        EXPECT_EQ((this->*row.attempt)(), "used");
    }
}

}  // namespace
