#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "agent/store/Settings.h"
#include "common/err/Errors.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/TestServer.h"

// What the program, bootstrap and service tests share: a relocated root with a settings
// store, a program folder and a log file in one scratch folder.
namespace programtest {

// A relocated root ("root"), a program folder ("program") and a log file ("agent.log")
// whose settings store points the log at that file with every level on.
class AgentWorld {
public:
    AgentWorld() : root_(rootPath_.c_str()) {
        std::filesystem::create_directories(RootFolder());
        std::filesystem::create_directories(ProgramFolder());
        Store({{"LogFile", LogPath()},
               {"LogErrors", "1"},
               {"LogInformation", "1"},
               {"LogDebug", "1"},
               {"LogSize", "10000000"}});
    }
    AgentWorld(const AgentWorld&) = delete;
    AgentWorld& operator=(const AgentWorld&) = delete;

    std::string RootFolder() const { return scratch_ / "root"; }
    std::string ProgramFolder() const { return scratch_ / "program"; }
    std::string LogPath() const { return scratch_ / "agent.log"; }
    std::string InputFile() const { return ProgramFolder() + "/mireton.inp"; }
    std::string ConfigFile() const { return RootFolder() + "/mireton.cfg"; }
    std::string RebootRequest() const { return RootFolder() + "/run/corvane/reboot-requested"; }
    const scratch::ScratchFolder& Scratch() const { return scratch_; }

    // The command line that runs a copy of the built program from the program folder, so
    // that the files beside the program are the world's.
    std::vector<std::string> ProgramLine(const std::string& built,
                                         const std::vector<std::string>& arguments) const {
        const std::string program = ProgramFolder() + "/wardex";
        if (!std::filesystem::exists(program)) {
            std::filesystem::copy_file(built, program);
        }
        std::vector<std::string> line{program};
        line.insert(line.end(), arguments.begin(), arguments.end());
        return line;
    }

    void Store(const std::map<std::string, std::string>& settings) const {
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
        for (std::size_t at = log.find(text); at != std::string::npos;
             at = log.find(text, at + 1)) {
            ++count;
        }
        return count;
    }

private:
    scratch::ScratchFolder scratch_;
    std::string rootPath_ = scratch_ / "root";
    scratch::ScopedRoot root_;
};

}  // namespace programtest
