#include "tests/support/AgentWorld.h"

#include <chrono>
#include <thread>

#include "agent/store/Settings.h"
#include "common/err/Errors.h"

namespace testsupport {

AgentWorld::AgentWorld() : root_(rootPath_.c_str()) {
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

std::unique_ptr<ChildProcess> AgentWorld::Start(const std::vector<std::string>& arguments,
                                                const std::vector<std::string>& environment,
                                                std::vector<std::string> launcher) const {
    const std::string program = ProgramFolder() + "/wardex";
    if (!std::filesystem::exists(program)) {
        std::filesystem::copy_file(WARDEX_PROGRAM, program);
    }
    launcher.push_back(program);
    launcher.insert(launcher.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>(launcher, environment);
}

void AgentWorld::Store(const std::map<std::string, std::string>& settings) const {
    for (const auto& [name, value] : settings) {
        CSettings().SetSetting(name, value);
    }
}

std::string AgentWorld::Stored(const std::string& name) {
    try {
        std::string value;
        CSettings().GetSetting(name, value);
        return value;
    } catch (const err::CGeneralError&) {
        return "<none>";
    }
}

std::size_t AgentWorld::LogCount(const std::string& text) const {
    const std::string log = Log();
    std::size_t count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

bool AgentWorld::WaitForLog(const std::string& text, std::size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (LogCount(text) < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace testsupport
