// Installing and removing the service with a relocated root: only the unit file and its
// enabling link are written and removed.

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "agent/service/linux/ServiceUnit.h"
#include "tests/service/ServiceTestSupport.h"

namespace {

using programtest::AgentWorld;
using servicetest::RunCommand;

namespace fs = std::filesystem;

class InstallWorld : public AgentWorld {
public:
    std::string UnitFolder() const { return RootFolder() + "/etc/systemd/system"; }
    std::string Unit() const { return UnitFolder() + "/corvane-deployment-agent.service"; }
    std::string Link() const {
        return UnitFolder() + "/multi-user.target.wants/corvane-deployment-agent.service";
    }
    std::string Registry() const { return RootFolder() + "/etc/corvane/registry.reg"; }
};

TEST(InstallTest, InstallWritesTheEnabledUnitOnce) {
    const InstallWorld world;
    EXPECT_EQ(RunCommand(world, {"-install", "-load=a.so,b.so"}), 0);
    const std::string unit = scratch::ReadFile(world.Unit());
    EXPECT_NE(unit.find("\nExecStart=" + world.ProgramFolder() + "/wardex -load=a.so,b.so\n"),
              std::string::npos)
        << unit;
    EXPECT_NE(unit.find("\nType=notify\n"), std::string::npos);
    EXPECT_NE(unit.find("\nRestart=on-failure\n"), std::string::npos)
        << "a crash dumps and then the service comes back";
    EXPECT_NE(unit.find("\nDescription=Corvane Deployment Agent\n"), std::string::npos);
    EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos);
    ASSERT_TRUE(fs::is_symlink(world.Link()));
    EXPECT_EQ(fs::canonical(world.Link()), fs::canonical(world.Unit()));

    EXPECT_EQ(RunCommand(world, {"-install", "-load=other.so"}), 0);
    EXPECT_EQ(scratch::ReadFile(world.Unit()), unit) << "the second install changes nothing";
    EXPECT_EQ(world.LogCount("ServiceControl::Install - Failed to CreateService"), 1u);
}

TEST(InstallTest, RemoveDeletesSettingsKeysAndUnit) {
    const InstallWorld world;
    world.Store({{"TcpAddr", "server.example"}});
    ASSERT_EQ(RunCommand(world, {"-install", "-load=a.so"}), 0);
    ASSERT_TRUE(fs::exists(world.Unit()));

    EXPECT_EQ(RunCommand(world, {"-remove"}), 0);
    EXPECT_FALSE(fs::exists(world.Unit()));
    EXPECT_FALSE(fs::is_symlink(world.Link()));
    const std::string registry = scratch::ReadFile(world.Registry());
    EXPECT_EQ(registry.find("Corvane"), std::string::npos) << registry;
    EXPECT_EQ(AgentWorld::Stored("TcpAddr"), "<none>");

    // Nothing left to remove: the removal says so and still ends normally.
    world.Store({{"LogFile", world.LogPath()}, {"LogErrors", "1"}, {"LogSize", "100000"}});
    EXPECT_EQ(RunCommand(world, {"-delete"}), 0);
    EXPECT_EQ(world.LogCount("ServiceControl::Delete - Failed to open service"), 1u);
}

// A unit folder that cannot be written (here a file stands in its place, which even root
// cannot write into): a clear line, nothing written.
TEST(InstallTest, UnitFolderThatCannotBeWrittenFailsClearly) {
    const InstallWorld world;
    fs::create_directories(fs::path(world.UnitFolder()).parent_path());
    scratch::WriteFile(world.UnitFolder(), "not a folder\n");
    EXPECT_EQ(RunCommand(world, {"-install", "-load=a.so"}), 0);
    EXPECT_EQ(world.LogCount("ServiceControl::Install - Failed to Open ServiceManager service"),
              1u);
    EXPECT_EQ(scratch::ReadFile(world.UnitFolder()), "not a folder\n");
}

// A program folder with a space or a systemd specifier character in its path.
TEST(InstallTest, ExecStartKeepsOddPathsWhole) {
    EXPECT_NE(UnitText("A", "/opt/my agent/wardex", "-load=a.so")
                  .find("\nExecStart=\"/opt/my agent/wardex\" -load=a.so\n"),
              std::string::npos);
    EXPECT_NE(UnitText("A", "/opt/100%/wardex", "-load=$x.so")
                  .find("\nExecStart=/opt/100%%/wardex -load=$$x.so\n"),
              std::string::npos);
}

}  // namespace
