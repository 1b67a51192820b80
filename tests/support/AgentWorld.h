#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/TestServer.h"

namespace testsupport {

// What the program, bootstrap and service tests share, in one scratch folder: a relocated
// root ("root") whose settings store points the log at "agent.log" with every level on and
// the agent at the world's test server, and a program folder ("program") from which a copy
// of the built program (WARDEX_PROGRAM) runs, so that the files beside it are the world's.
class AgentWorld {
public:
    AgentWorld();
    AgentWorld(const AgentWorld&) = delete;
    AgentWorld& operator=(const AgentWorld&) = delete;

    std::string RootFolder() const { return scratch_ / "root"; }
    std::string ProgramFolder() const { return scratch_ / "program"; }
    std::string LogPath() const { return scratch_ / "agent.log"; }
    std::string InputFile() const { return ProgramFolder() + "/mireton.inp"; }
    std::string ConfigFile() const { return RootFolder() + "/mireton.cfg"; }
    std::string StateFile() const { return ProgramFolder() + "/wardex.dat"; }
    std::string RebootRequest() const { return RootFolder() + "/run/corvane/reboot-requested"; }
    const scratch::ScratchFolder& Scratch() const { return scratch_; }

    // Starts the program with the arguments; the environment as ChildProcess takes it. A
    // launcher (a command with its arguments, as prlimit) may run it.
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment = {},
                                        std::vector<std::string> launcher = {}) const;

    void Store(const std::map<std::string, std::string>& settings) const;
    // The stored value, or "<none>" when the setting is not stored.
    static std::string Stored(const std::string& name);
    std::string Log() const { return scratch::ReadFile(LogPath()); }
    // How often the text occurs in the log.
    std::size_t LogCount(const std::string& text) const;
    // Waits until the log holds the text at least count times; false when it did not within
    // the wait.
    bool WaitForLog(const std::string& text, std::size_t count = 1) const;

    TestServer listener;

private:
    scratch::ScratchFolder scratch_;
    std::string rootPath_ = scratch_ / "root";
    scratch::ScopedRoot root_;
};

}  // namespace testsupport
