#include "agent/program/ProgramModes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/Version.h"
#include "agent/engine/Bootstrap.h"
#include "agent/log/AgentLog.h"
#include "agent/program/SettingsListing.h"
#include "agent/service/ServiceControl.h"
#include "agent/store/Settings.h"
#include "agent/toolbox/Toolbox.h"
#include "common/err/Errors.h"
#include "common/sys/Platform.h"
#include "common/sys/ProgramPath.h"
#include "common/util/Console.h"
#include "common/util/LogLine.h"
#include "common/util/StringUtils.h"

namespace {

constexpr const char* kSource = "main";

constexpr const char* kUsage =
    "Usage: wardex [options] ...\n   -load  . . . . use the following toolboxes\n   -debug . . "
    ". . Run in user mode with console debug output\n   -version . . . Display version "
    "information\n   -skt     . . . Use Corvane Shiftkit options\n   -? or -help  . Display this "
    "help screen\n\nexamples:\n   wardex -debug -load=default.dll,config.dll,autoupdate.dll\n   "
    "wardex -version -load=default.dll,config.dll,autoupdate.dll\n\n";

logging::CAgentLog& Log() {
    return *logging::CAgentLog::GetInstance();
}

void PrintVersionLines() {
    std::printf("Corvane Deployment Agent (wardex), the managed computer's side of Corvane\n");
    std::printf("\tagent Version %d.%d.%d (%d bit)\n", agent_version::kMajor, agent_version::kMinor,
                agent_version::kBuild, agent_version::kBits);
}

// The index of the first argument holding "-load="; npos when none does.
std::size_t FindLoadArgument(const util::ParamList& params) {
    for (std::size_t i = 0; i < params.Count(); ++i) {
        WARDEX_LOG(Log(), LogLevel::Debug, "- Looking for toolbox load list\n\targv[%d]=%s",
                   static_cast<int>(i), params.At(i));
        if (std::string(params.At(i)).find("-load=") != std::string::npos) {
            return i;
        }
    }
    return util::ParamList::npos;
}

// The number after the first "=", as atol reads it (a negative one wraps); a text that is
// not wholly a number is named on the console.
std::uint32_t ReadRunCount(const std::string& argument) {
    const std::string text = argument.substr(argument.find('=') + 1);
    char* end = nullptr;
    const auto count = static_cast<std::uint32_t>(std::strtol(text.c_str(), &end, 10));
    if (text.empty() || *end != '\0') {
        std::printf("-count value \"%s\" is not a number, taken as %u\n", text.c_str(), count);
        WARDEX_LOG(Log(), LogLevel::Error, "- -count value \"%s\" is not a number, taken as %u",
                   text.c_str(), count);
    }
    return count;
}

std::uint32_t FindRunCount(const util::ParamList& params) {
    for (std::size_t i = 0; i < params.Count(); ++i) {
        const std::string argument = params.At(i);
        if (argument.find("-count=") != std::string::npos) {
            std::printf("Found -count arg %s\n", argument.c_str());
            const std::uint32_t count = ReadRunCount(argument);
            WARDEX_LOG(Log(), LogLevel::Information, "- Agent will exit after %u reconnects ",
                       count);
            return count;
        }
    }
    return 0xFFFFFFFFu;
}

constexpr const char* kNullDevice =
    sys::kBuiltPlatform == sys::Platform::Windows ? "NUL" : "/dev/null";

// Sends a console stream to the null device; a stream that cannot be reopened stays.
void Silence(std::FILE* stream) {
    std::fflush(stream);
    [[maybe_unused]] const std::FILE* reopened = std::freopen(kNullDevice, "wb", stream);
}

}  // namespace

// clang-format off
const OptionEntry kOptionTable[] = {
    {"-?", ShowUsage},
    {"-help", ShowUsage},
    {"-version", ShowVersion},
    {"-verbose", ShowSettings},
    {"-install", InstallService},
    {"-remove", RemoveService},
    {"-delete", RemoveService},
    {"-debug", RunDebug},
    {"-skt", RunShiftkit},
    {nullptr, nullptr},
};
// clang-format on

void ExtractToolboxList(const util::ParamList& params, util::ParamList& toolboxes) {
    for (std::size_t i = 0; i < params.Count(); ++i) {
        const std::string argument = params.At(i);
        if (argument.find("-load=") == std::string::npos) {
            continue;
        }
        std::size_t position = argument.find('=');
        while (position < argument.size()) {
            const std::size_t start = position + 1;
            position = std::min(argument.find(',', start), argument.size());
            toolboxes.Add(argument.substr(start, position - start));
        }
    }
}

bool DispatchOption(const util::ParamList& params) {
    for (const OptionEntry* entry = kOptionTable; entry->option != nullptr; ++entry) {
        if (params.Find(entry->option) != util::ParamList::npos) {
            entry->handler(params);
            return true;
        }
    }
    return false;
}

void ShowUsage(const util::ParamList&) {
    util::SetConsoleMode(true);
    std::printf("%s\n", kUsage);
}

void ShowVersion(const util::ParamList& params) {
    util::SetConsoleMode(true);
    util::ParamList toolboxes;
    ExtractToolboxList(params, toolboxes);
    PrintVersionLines();
    for (std::size_t i = 0; i < toolboxes.Count(); ++i) {
        CToolBox toolbox(toolboxes.At(i));
        toolbox.Load();
        int major = 0;
        int minor = 0;
        int build = 0;
        toolbox.GetVersion(major, minor, build);
        std::printf("\t%s %d.%d.%d\n", toolboxes.At(i), major, minor, build);
    }
}

void ShowSettings(const util::ParamList&) {
    util::SetConsoleMode(true);
    PrintVersionLines();
    for (const auto& [name, value] : ListStoredSettings()) {
        // The key is a secret shared with the server: a listing tells only its length.
        const std::string shown =
            name == "SecurityKey" ? util::Format("(%zu characters)", value.size()) : value;
        std::printf("%s=%s\n", name.c_str(), shown.c_str());
    }
}

void InstallService(const util::ParamList& params) {
    WARDEX_LOG(Log(), LogLevel::Information, "- Attempting to install service");
    const std::size_t index = FindLoadArgument(params);
    if (index == util::ParamList::npos) {
        WARDEX_LOG(Log(), LogLevel::Error, "- no argument list provided");
        std::exit(1);
    }
    WARDEX_LOG(Log(), LogLevel::Debug, "- Calling ServiceControl::Install\n\targv[%d]=%s",
               static_cast<int>(index), params.At(index));
    const std::string program = sys::ProgramPath();
    if (program.empty()) {
        WARDEX_LOG(Log(), LogLevel::Debug, "- Failed to find name of exe");
        std::exit(1);
    }
    ServiceControl::Install(kServiceName, program.c_str(), params.At(index), kAutomaticStart);
}

void RemoveService(const util::ParamList&) {
    try {
        CSettings().DeleteAllSettings();
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(Log(), LogLevel::Error,
                   "- Exception thrown while deleting registry settings - error = %s.",
                   e.Message());
    } catch (...) {
        WARDEX_LOG(Log(), LogLevel::Error, "- Exception thrown while deleting registry settings.");
    }
    WARDEX_LOG(Log(), LogLevel::Information, "- Attempting to remove service");
    ServiceControl::Delete(kServiceName);
}

void RunDebug(const util::ParamList& params) {
    util::SetConsoleMode(true);
    std::printf("Running agent in console/debug mode\n");
    WARDEX_LOG(Log(), LogLevel::Information, "- Running Agent in console/debug mode");
    try {
        util::ParamList toolboxes;
        ExtractToolboxList(params, toolboxes);
        if (toolboxes.Count() == 0) {
            std::printf("Toolbox List is empty - application will exit\n\n");
            WARDEX_LOG(Log(), LogLevel::Error, "- Toolbox param list is empty");
            return;
        }
        const std::uint32_t runs = FindRunCount(params);
        CBootstrap bootstrap;
        for (std::uint32_t i = 0; i < runs; ++i) {
            std::printf("Application will exit in %u\n", runs - i);
            std::fflush(stdout);
            bootstrap.RunOnce(toolboxes, true);
        }
    } catch (...) {
        // A failed run ends the console mode quietly; the log has the details.
    }
}

void RunShiftkit(const util::ParamList& params) {
    util::SetConsoleMode(true);
    util::ParamList toolboxes;
    ExtractToolboxList(params, toolboxes);
    if (toolboxes.Count() == 0) {
        std::printf("ERROR: No toolbox list specified\n");
        return;
    }
    for (std::size_t i = 0; i < params.Count(); ++i) {
        if (std::string(params.At(i)).find("-q") != std::string::npos) {
            Silence(stderr);
            Silence(stdout);
        }
    }
    try {
        CBootstrap bootstrap;
        bootstrap.RunOnce(toolboxes, false);
    } catch (const err::CGeneralError& e) {
        std::printf("caught exception\n\t%s:%d %s\n", e.Source(), e.Line(), e.Message());
    }
}
