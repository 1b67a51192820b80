#include "tests/support/AgentWorld.h"

#include "tests/support/ChildProcess.h"

namespace testsupport {

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

}  // namespace testsupport
