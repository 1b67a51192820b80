#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "agent/store/Settings.h"
#include "common/err/Errors.h"
#include "common/sys/Platform.h"
#include "tests/support/Environment.h"
#include "tests/support/TestServer.h"

namespace testsupport {

class ChildProcess;

// What the tests that run an agent share, in the settings sandbox's folder (on Linux the
// relocated root): settings that point the log at "agent.log" with every level on and the
// agent at the world's test server, and a program folder ("program"). On Linux Start runs a
// copy of the built program (WARDEX_PROGRAM) from that folder, so that the files beside it
// are the world's.
class AgentWorld {
public:
    AgentWorld() {
        std::filesystem::create_directories(RootFolder() + "/run");
        std::filesystem::create_directories(ProgramFolder());
        Store({{"LogFile", LogPath()},
               {"LogErrors", "1"},
               {"LogInformation", "1"},
               {"LogDebug", "1"},
               {"LogSize", "10000000"},
               {"TcpAddr", "127.0.0.1"},
               {"TcpPort", listener.PortText()}});
    }
    // The configuration file lies outside the sandbox on Windows.
    ~AgentWorld() {
        std::error_code ignored;
        std::filesystem::remove_all(ConfigFile(), ignored);
    }
    AgentWorld(const AgentWorld&) = delete;
    AgentWorld& operator=(const AgentWorld&) = delete;

    std::string RootFolder() const { return sandbox_.Path(); }
    std::string ProgramFolder() const { return sandbox_ / "program"; }
    std::string LogPath() const { return sandbox_ / "agent.log"; }
    std::string InputFile() const { return sandbox_ / "program/mireton.inp"; }
    // Where the agent looks for "mireton.cfg": the relocated root on Linux, the root of the
    // prefix's system drive on Windows.
    std::string ConfigFile() const {
        return sys::kBuiltPlatform == sys::Platform::Windows ? "C:\\mireton.cfg"
                                                             : sandbox_ / "mireton.cfg";
    }
    std::string StateFile() const { return sandbox_ / "program/wardex.dat"; }
    std::string RebootRequest() const { return sandbox_ / "run/corvane/reboot-requested"; }
    // For the test's other files.
    const SettingsSandbox& Scratch() const { return sandbox_; }

    // Starts the program with the arguments; the environment as ChildProcess takes it. A
    // launcher (a command with its arguments, as prlimit) may run it. Linux only.
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment = {},
                                        std::vector<std::string> launcher = {}) const;

    static void Store(const std::map<std::string, std::string>& settings) {
        for (const auto& [name, value] : settings) {
            CSettings().SetSetting(name, value);
        }
    }
    // The stored value, or "<none>" when the setting is not stored.
    static std::string Stored(const std::string& name) {
        try {
            std::string value;
            CSettings().GetSetting(name, value);
            return value;
        } catch (const err::CGeneralError&) {
            return "<none>";
        }
    }
    std::string Log() const { return scratch::ReadFile(LogPath()); }
    // How often the text occurs in the log.
    std::size_t LogCount(const std::string& text) const {
        const std::string log = Log();
        std::size_t count = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
    // Waits until the log holds the text at least count times; false when it did not within
    // ten seconds.
    bool WaitForLog(const std::string& text, std::size_t count = 1) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (LogCount(text) < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return LogCount(text) >= count;
    }

    TestServer listener;

private:
    SettingsSandbox sandbox_;
};

}  // namespace testsupport
