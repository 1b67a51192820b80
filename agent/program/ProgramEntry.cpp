#include "agent/program/ProgramEntry.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "agent/log/AgentLog.h"
#include "agent/log/LogLines.h"
#include "agent/program/ProgramModes.h"
#include "agent/service/QxaServiceEntry.h"
#include "agent/service/ServiceControl.h"
#include "agent/store/Settings.h"
#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "common/sys/ProgramPath.h"
#include "common/sys/Registry.h"
#include "common/util/FileUtils.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "main";

logging::CAgentLog& Log() {
    logging::CAgentLog* log = logging::CAgentLog::GetInstance();
    if (!log) {
        throw logging::CAgentLogError(kSource, "InitializeLog() Failed to get log pointer.",
                                      __LINE__, logging::kLogUnavailable, err::LastSystemError());
    }
    return *log;
}

// A store that cannot be read counts as empty for every setting, the log's own included, so
// the agent would go on with its defaults and no log file without a word about why. Standard
// error is where that is said: a console shows it and the service's journal keeps it.
void ReportUnreadableStore() {
    const std::string problem = sys::SettingsStoreProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "wardex: the settings store cannot be read, no setting applies: %s\n",
                     problem.c_str());
    }
}

void CreateFileLog(const msg::CQXMessage& request) {
    try {
        const std::string file = request.GetField("LogFile");
        const auto size = static_cast<std::uint32_t>(request.GetFieldInt64("LogSize"));
        Log().InitializeFileLog(request.GetFieldBool("LogErrors"), request.GetFieldBool("LogDebug"),
                                request.GetFieldBool("LogInformation"), file, size);
    } catch (const logging::CAgentLogError&) {
        throw;
    } catch (const err::CGeneralError& e) {
        throw err::CGeneralError(e);
    } catch (...) {
        throw logging::CAgentLogError(kSource, "InitializeLog() Unknown log error.", __LINE__,
                                      logging::kLogUnavailable, err::LastSystemError());
    }
}

// Relative names (toolboxes, the state file) are then found beside the program.
void EnterProgramFolder() {
    const std::string program = sys::ProgramPath();
    if (program.empty()) {
        return;
    }
    WARDEX_LOG(Log(), LogLevel::Debug, "- GetModuleFilename returned - %s", program.c_str());
    std::string folder;
    std::string name;
    util::SplitPath(program, folder, name);
    if (name.empty()) {
        return;
    }
    WARDEX_LOG(Log(), LogLevel::Debug, "- Setting current directory to - %s", folder.c_str());
    std::error_code error;
    std::filesystem::current_path(folder.empty() ? std::string(1, util::PathSeparator()) : folder,
                                  error);
    if (error) {
        WARDEX_LOG(Log(), LogLevel::Error, "- Cannot change to %s: %s", folder.c_str(),
                   error.message().c_str());
    }
}

int RunAsService(const util::ParamList& params) {
    util::ParamList toolboxes;
    ExtractToolboxList(params, toolboxes);
    if (toolboxes.Count() == 0) {
        WARDEX_LOG(Log(), LogLevel::Error, "- Toolbox List is empty, exiting");
        return 1;
    }
    QxaServiceEntry* entry = QxaServiceEntry::GetInstance();
    if (entry == nullptr) {
        throw WindowsServices::ServiceControlError(kSource, "Unable to get Service Instance",
                                                   __LINE__, 0, err::LastSystemError());
    }
    entry->SetToolboxList(toolboxes);
    ServiceControl::StartService(*entry);
    WARDEX_LOG(Log(), LogLevel::Error, "- Leaving Main()");
    return 0;
}

}  // namespace

void InitializeLog() {
    msg::CQXMessage request;
    request.SetLead("Settings", "Specified");
    for (const char* name : {"LogFile", "LogErrors", "LogInformation", "LogDebug"}) {
        request.SetField(name, "");
    }
    request.SetField("LogSize", 0);
    Log();
    ReportUnreadableStore();
    CSettings().GetSettings(&request);
    CreateFileLog(request);
}

int RunProgram(int argc, const char* const* argv) {
    try {
        InitializeLog();
        util::ParamList params;
        params.AddArgs(argc, argv);
        WARDEX_LOG(Log(), LogLevel::Debug, "- argv[0] =  %s",
                   params.Count() > 0 ? params.At(0) : "");
        EnterProgramFolder();
        if (DispatchOption(params)) {
            WARDEX_LOG(Log(), LogLevel::Error, "- exiting");
            return 0;
        }
        return RunAsService(params);
    } catch (const WindowsServices::ServiceControlError& e) {
        try {
            WARDEX_LOG(Log(), LogLevel::Error,
                       "- ServiceControl exception\n\tfrom %s:%d - %s\n\tValue=%d, "
                       "SystemError=0x%08X",
                       e.Source(), e.Line(), e.Message(), e.Value(), e.SystemError());
        } catch (const err::CGeneralError&) {
        }
        return 1;
    } catch (const err::CGeneralError& e) {
        std::printf(
            "unhandled  exception\n%s:%d - %s\nError = %d System Error = %u\ncannot continue\n",
            e.Source(), e.Line(), e.Message(), e.Value(), e.SystemError());
        return 1;
    } catch (...) {
        std::printf("application crash\n");
        return 1;
    }
}
