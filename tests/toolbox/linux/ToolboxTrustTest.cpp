// Run as root, the agent uses no file that carries commands (a toolbox, the settings input
// file, the configuration file) when someone else could have changed it or its folder: the
// refusal is logged with the reason, and once the entry is mended the file is used. A toolbox
// file is not even opened before it has passed.

#include <unistd.h>

#include <sys/stat.h>

#include "agent/engine/Bootstrap.h"
#include "agent/log/AgentLog.h"
#include "common/err/Errors.h"
#include "tests/support/AgentWorld.h"
#include "tests/support/TestBasics.h"
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
        std::filesystem::copy_file(tbxtest::Toolbox("testtbx_next"), toolbox_);
    }

    std::string ToolboxFolder() const { return world_.Scratch() / "toolboxes"; }

    // One bootstrap run with a fresh input file and configuration file, offering the
    // configuration to the copied toolbox, which passes it on to the session toolbox. True
    // when all three files were used: the input file applied and consumed, the configuration
    // answered through both toolboxes.
    bool RunUsesEveryFile() {
        // No id is the start of another, so that the log's lines tell the runs apart.
        const std::string id = std::to_string(++runs_) + "-pc";
        scratch::WriteFile(world_.InputFile(), "ClientID=" + id + "\n");
        scratch::WriteFile(world_.ConfigFile(), "Configured-" + id + "\n");
        NoWaitClock clock;
        util::ParamList toolboxes;
        toolboxes.Add(toolbox_.c_str());
        toolboxes.Add(WARDEX_SESSION_TOOLBOX);
        try {
            CBootstrap(clock, world_.ProgramFolder()).RunOnce(toolboxes, false);
        } catch (const err::CGeneralError&) {
            // A refused toolbox ends the run; its reason is in the log.
        }
        return !std::filesystem::exists(world_.InputFile()) &&
               AgentWorld::Stored("ClientID") == id &&
               world_.LogCount("Result=Configured-" + id) == 1;
    }

    AgentWorld world_;
    const std::string toolbox_ = ToolboxFolder() + "/" + tbxtest::File("testtbx_next");
    int runs_ = 0;
};

// Each row makes one file or folder writable by others, or another user's; the run refuses
// what it guards with the reason naming that entry, and uses it once the entry is root's and
// writable by root alone.
TEST_F(FileTrust, ARootAgentUsesNoCommandFileThatOthersCouldHaveChanged) {
    struct Row {
        std::string entry;
        mode_t mode;
        uid_t owner;
        const char* reason;
    };
    constexpr uid_t kRoot = 0;
    const std::vector<Row> rows = {
        {toolbox_, 0775, kRoot, "is writable by others"},
        {ToolboxFolder(), 0757, kRoot, "is writable by others"},
        {toolbox_, 0755, testsupport::kNobody, "is owned by another user"},
        {world_.InputFile(), 0664, kRoot, "is writable by others"},
        {world_.ProgramFolder(), 0777, kRoot, "is writable by others"},
        {world_.ConfigFile(), 0666, kRoot, "is writable by others"},
    };
    ASSERT_TRUE(RunUsesEveryFile());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry);
        const std::string refusal = row.entry + " " + row.reason;
        if (!std::filesystem::exists(row.entry)) {
            scratch::WriteFile(row.entry, "");
        }
        ASSERT_EQ(::chown(row.entry.c_str(), row.owner, -1), 0);
        ASSERT_EQ(::chmod(row.entry.c_str(), row.mode), 0);
        EXPECT_FALSE(RunUsesEveryFile());
        EXPECT_EQ(world_.LogCount(refusal), 1u);
        ASSERT_EQ(::chown(row.entry.c_str(), kRoot, -1), 0);
        ASSERT_EQ(::chmod(row.entry.c_str(), row.mode & ~mode_t{022}), 0);
        EXPECT_TRUE(RunUsesEveryFile());
        EXPECT_EQ(world_.LogCount(refusal), 1u);
    }
    // A pipe put in the toolbox's place, in a folder others may write to, is refused without
    // being opened: an open would wait for a writer that never comes.
    ASSERT_EQ(::chmod(ToolboxFolder().c_str(), 0757), 0);
    std::filesystem::remove(toolbox_);
    ASSERT_EQ(::mkfifo(toolbox_.c_str(), 0644), 0);
    EXPECT_FALSE(RunUsesEveryFile());
    EXPECT_EQ(world_.LogCount(ToolboxFolder() + " is writable by others"), 2u);
}

}  // namespace
