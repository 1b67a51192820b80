#include "tests/support/AgentWorld.h"

#include <chrono>
#include <thread>

#include "tests/support/AgentSettings.h"

namespace testsupport {

AgentWorld::AgentWorld() : root_(rootPath_.c_str()) {
    std::filesystem::create_directories(RootFolder() + "/run");
    std::filesystem::create_directories(ProgramFolder());
    StoreLoggingAgent(LogPath(), listener.PortText());
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
    StoreSettings(settings);
}

std::string AgentWorld::Stored(const std::string& name) {
    return StoredSetting(name);
}

std::size_t AgentWorld::LogCount(const std::string& text) const {
    return CountIn(Log(), text);
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
