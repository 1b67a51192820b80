#include "agent/engine/Bootstrap.h"

#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>

#include "agent/engine/EngineLines.h"
#include "agent/engine/QxAgent.h"
#include "agent/log/AgentLog.h"
#include "agent/store/Settings.h"
#include "agent/store/SettingsInputFile.h"
#include "common/err/Errors.h"
#include "common/msg/MessagePtr.h"
#include "common/msg/QXMessage.h"
#include "common/sys/DataRegistry.h"
#include "common/sys/FileTrust.h"
#include "common/sys/OperatingSystemInfo.h"
#include "common/sys/ProgramPath.h"
#include "common/sys/Reboot.h"
#include "common/util/FileUtils.h"
#include "common/util/LogLine.h"
#include "common/util/StringUtils.h"

namespace {

constexpr const char* kSource = "bootstrap";
constexpr const char* kSettingsKey = "Software\\Corvane\\Client Service";
constexpr std::uint32_t kHoldStepMs = 2000;
constexpr std::uint32_t kInputFileDelayMs = 2000;
// ResetLogParams keeps the low 21 bits of "LogSize".
constexpr std::uint64_t kLogSizeMask = (std::uint64_t{1} << 21) - 1;

// Logging is best effort here: a log file that cannot be written must not end a run.
constexpr logging::CBestEffortLog kBestEffortLog;
// The end of the bootstrap thread is told on standard output as well.
constexpr logging::CBestEffortLog kEchoedLog{logging::CBestEffortLog::Echo::StandardOutput};

using msg::MessagePtr;

// "mireton.cfg" at the system drive: the agent's root.
std::string ConfigFilePath() {
    sys::OperatingSystemInfo system;
    system.Query();
    return util::JoinPath(system.GetSystemDrive(), "mireton.cfg");
}

// The two files carry commands that the agent carries out with its own rights, so a file
// that others could have written is left as it is; false, with the reason logged, for one.
bool IsTrustedFile(const std::string& path, const char* refusal) {
    const std::string reason = sys::UntrustedFileReason(path);
    if (!reason.empty()) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error, "%s: %s", refusal, reason.c_str());
    }
    return reason.empty();
}

bool IsReadableFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && std::ifstream(path).is_open();
}

// "ReconnectSpread" in seconds, 0 when not stored; read at every wait, so that a change
// reaches the next one.
std::uint32_t ReconnectSpread() {
    msg::CQXMessage request;
    request.SetLead("Settings", "Specified");
    request.SetField("ReconnectSpread", "0");
    CSettings().GetSettings(&request);
    // An unsigned setting: the store holds 0 to 4294967295.
    const std::int64_t spread = request.GetFieldInt64("ReconnectSpread");
    constexpr std::uint32_t kMax = CReconnectSchedule::kMaxSpreadSeconds;
    if (spread > kMax) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                   "CBootstrap - ReconnectSpread %lld is above %u seconds; %u seconds are used",
                   static_cast<long long>(spread), kMax, kMax);
        return kMax;
    }
    return static_cast<std::uint32_t>(spread);
}

}  // namespace

CBootstrap::CBootstrap(IBootstrapClock& clock) : CBootstrap(clock, sys::ProgramFolder()) {}

CBootstrap::CBootstrap(IBootstrapClock& clock, std::string programFolder)
    : clock_(clock), programFolder_(std::move(programFolder)) {}

CBootstrap::~CBootstrap() {
    exit_.Set();
    agent_.reset();
}

std::uint32_t CBootstrap::Run(std::uint32_t) {
    try {
        HoldForDebugger();
        while (!exit_.IsSet()) {
            RunOnce(toolboxes_, true);
            if (exit_.IsSet()) {
                break;
            }
            WARDEX_LOG(kBestEffortLog, LogLevel::Information,
                       "CBootstrap::Run - Gathering wait time before reconnecting");
            const std::uint32_t wait = NextWaitMilliseconds();
            WARDEX_LOG(kBestEffortLog, LogLevel::Debug, "CBootstrap::Run - sleeping %s seconds",
                       WaitText(wait).c_str());
            WaitForExit(wait);
        }
        WARDEX_LOG(kBestEffortLog, LogLevel::Information, "CBootstrap::Run - Exit signaled");
        return 0;
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kEchoedLog, LogLevel::Error,
                   "- Caught unhandled exception in Bootstrap::Run\n\t%s%d - %s\n\terror "
                   "value=<TODO: fix this api>\n\tSystemError = 0x%08X",
                   e.Source(), e.Line(), e.Message(), e.SystemError());
        return e.SystemError();
    } catch (...) {
        const std::uint32_t error = err::LastSystemError();
        WARDEX_LOG(kEchoedLog, LogLevel::Error,
                   "- Caught undefined exception ( ... )  in Bootstrap::Run\n\t SystemError=0x%08x",
                   error);
        return error;
    }
}

// A value of 1 holds the start until a debugger attached to the waiting process clears the
// flag; a stop request ends the hold too, so the service stays stoppable.
void CBootstrap::HoldForDebugger() {
    if (!TakeDebugWaitRequest()) {
        return;
    }
    volatile bool holding = true;
    while (holding && !exit_.IsSet()) {
        clock_.Sleep(kHoldStepMs);
    }
}

// Reads "DebugWaitEnabled" and deletes it, so that the request holds for one start only.
bool CBootstrap::TakeDebugWaitRequest() {
    try {
        sys::CDataRegistry registry;
        registry.SetKey(sys::RegistryRoot::LocalMachine, kSettingsKey);
        registry.Open(false, false, sys::Registry::kView32);
        std::uint32_t value = 0;
        registry.ReadDWord("DebugWaitEnabled", value);
        registry.DeleteValue("DebugWaitEnabled");
        registry.Close();
        return value == 1;
    } catch (const sys::RegistryError& e) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Information,
                   "CBootstrap::Run - throw/catch from DebugWaitEnabled value! err=%d, "
                   "syserr=%d",
                   e.Value(), static_cast<int>(e.SystemError()));
        return false;
    }
}

void CBootstrap::RunOnce(const util::ParamList& toolboxes, bool startAgent) {
    CreateAgent(toolboxes);
    try {
        ReadInputFile();
        WARDEX_LOG(kBestEffortLog, LogLevel::Information, "Checking Initial Config");
        bool reboot = false;
        RunConfig(reboot);
        if (reboot || !startAgent) {
            exit_.Set();
            WARDEX_LOG(kBestEffortLog, LogLevel::Debug,
                       "bAgentStart = false, Skipping agent startup");
        } else {
            WARDEX_LOG(kBestEffortLog, LogLevel::Information, "Calling Agent Startup");
            StartAgent();
        }
    } catch (...) {
        // The agent's state is saved whatever ended the run.
        DestroyAgent();
        throw;
    }
    WARDEX_LOG(kBestEffortLog, LogLevel::Information, "Destroying Agent");
    DestroyAgent();
}

// The agent is made ready before the stop and user-change relays can see it.
void CBootstrap::CreateAgent(const util::ParamList& toolboxes) {
    std::unique_ptr<CQXAgent> agent(new (std::nothrow) CQXAgent);
    if (!agent) {
        throw err::CGeneralError(kSource, "Failed to allocate CQXAgent object", __LINE__, 0,
                                 err::LastSystemError());
    }
    agent->SetStateFile(util::JoinPath(programFolder_, "wardex.dat"));
    agent->Init(toolboxes);
    // Before the configuration runs, so that what it records joins the loaded state.
    agent->LoadState();
    std::unique_lock guard(agentLock_);
    agent_ = std::move(agent);
}

// The agent is forgotten before it is destroyed, so that a stop or a user change arriving
// meanwhile never reaches a half-destroyed agent.
void CBootstrap::DestroyAgent() {
    std::unique_ptr<CQXAgent> agent;
    {
        std::unique_lock guard(agentLock_);
        agent = std::move(agent_);
    }
    if (agent) {
        agent->Destroy();
    }
}

void CBootstrap::ReadInputFile() {
    try {
        const std::string path = util::JoinPath(programFolder_, "mireton.inp");
        if (!util::FileExists(path)) {
            throw CAgentError(kSource, "Attempting to read .inp, but it does not exist.", __LINE__,
                              kAgentInputFileMissing, err::LastSystemError());
        }
        if (!IsTrustedFile(path, "- the settings input file is not applied")) {
            return;
        }
        clock_.Sleep(kInputFileDelayMs);
        const std::string text = ReadSettingsLines(path);
        // Consumed before it is applied: a file that cannot be deleted would otherwise be
        // applied again at every run.
        util::DeleteFile(path);
        ApplySettingsText(text);
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error, "- Error reading input file.");
        WARDEX_LOG(kBestEffortLog, LogLevel::Debug, "- %s:%d %s", e.Source(), e.Line(),
                   e.Message());
    } catch (...) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error, "- Error reading input file.");
    }
}

void CBootstrap::ApplySettingsText(const std::string& text) {
    MessagePtr message(agent_->NewMessage());
    if (!message) {
        throw CAgentError(kSource, "No message for the input file's settings.", __LINE__,
                          kAgentOperationFailed, err::LastSystemError());
    }
    message->SetLead("Settings", "Specified");
    message->ParseFields(text);
    agent_->AgentCommand("SetAgentSettings", message.get());
}

void CBootstrap::RunConfig(bool& reboot) {
    reboot = false;
    const std::string path = ConfigFilePath();
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return;
    }
    if (!IsReadableFile(path)) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                   "RunConfig(): %s cannot be read, configuration skipped", path.c_str());
        return;
    }
    if (!IsTrustedFile(path, "RunConfig(): configuration skipped")) {
        return;
    }
    MessagePtr message(agent_->NewMessage());
    if (!message) {
        return;
    }
    message->SetLead("Internal", "Configure");
    message->SetField("Filename", path.c_str());
    agent_->InvokeHandler(message.get());
    const std::string result = message->GetField("Result");
    WARDEX_LOG(kBestEffortLog, LogLevel::Information,
               "RunConfig(): Internal configure return Result=%s", result.c_str());
    if (util::CompareNoCase(result, "Reboot") == 0) {
        reboot = true;
        if (const std::uint32_t failure = sys::Reboot(true)) {
            WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                       "RunConfig(): the restart request failed, error %u", failure);
        }
        return;
    }
    message->SetField("State", "Specific");
    message->SetField("Config", "Reply");
    // The reply is due on a first start too, where the state holds no "Config" yet and a
    // SetState cannot add it.
    agent_->GetAgentState().Mark("Config", "Reply");
    agent_->AgentCommand("SetState", message.get());
}

void CBootstrap::StartAgent() {
    ResetLogParams();
    WARDEX_LOG(kBestEffortLog, LogLevel::Information,
               "---Agent startup code being called. Welcome!---");
    bool started = false;
    try {
        agent_->Start();
        started = true;
        // A stop that came while the agent was connecting found no connection to close.
        if (exit_.IsSet()) {
            agent_->CloseConnection(CQXAgent::kCloseSession);
        }
        OfferCreateSession();
        agent_->WaitForClose();
        started = false;
        if (agent_->IsCloseRequested()) {
            exit_.Set();
        }
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                   "unhandled exception thrown from startup code\n\t%s:%d - %s\n\tValue=%d, "
                   "SystemError=0x%08X",
                   e.Source(), e.Line(), e.Message(), e.Value(), e.SystemError());
        if (started) {
            StopStartedAgent();
        }
        const std::uint32_t wait = NextWaitMilliseconds();
        WARDEX_LOG(kBestEffortLog, LogLevel::Information, "Retrying startup in %s seconds",
                   WaitText(wait).c_str());
        WaitForExit(wait);
    } catch (...) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                   " unknown exception thrown from startup code, agent must exit");
        if (started) {
            StopStartedAgent();
        }
        exit_.Set();
    }
}

void CBootstrap::OfferCreateSession() {
    MessagePtr message(agent_->NewMessage());
    if (message) {
        message->SetLead("Internal", "CreateSession");
        agent_->InvokeHandler(message.get());
    }
    schedule_.Restart();
}

// The agent's threads run once Start has succeeded; they must end before it is destroyed.
void CBootstrap::StopStartedAgent() noexcept {
    try {
        agent_->CloseConnection(CQXAgent::kCloseSession);
        agent_->WaitForClose();
    } catch (...) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                   "the agent's threads could not be stopped cleanly");
    }
}

void CBootstrap::ResetLogParams() {
    WARDEX_LOG(kBestEffortLog, LogLevel::Debug, "- Resetting Logging Parameters");
    msg::CQXMessage request;
    request.SetLead("Settings", "Specified");
    for (const char* name : {"LogFile", "LogErrors", "LogInformation", "LogSize", "LogDebug"}) {
        request.SetField(name, "");
    }
    CSettings().GetSettings(&request);
    const bool errors = request.GetFieldBool("LogErrors");
    const bool information = request.GetFieldBool("LogInformation");
    const bool debug = request.GetFieldBool("LogDebug");
    const std::string file = request.GetField("LogFile");
    const auto size = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(request.GetFieldInt64("LogSize")) & kLogSizeMask);
    WARDEX_LOG(kBestEffortLog, LogLevel::Debug,
               "- New Log Params\n\terrors=%d, info=%d, debug=%d\n\tfilename=%s, size=%u", errors,
               information, debug, file.c_str(), size);
    logging::CAgentLog::GetInstance()->SetLogParams(errors, debug, information, file, size);
}

std::uint32_t CBootstrap::NextWaitMilliseconds() {
    return schedule_.NextMilliseconds(ReconnectSpread());
}

bool CBootstrap::WaitForExit(std::uint32_t milliseconds) {
    return clock_.WaitFor(exit_, milliseconds);
}

void CBootstrap::SignalShutdown() {
    WARDEX_LOG(kBestEffortLog, LogLevel::Information, "- Shutdown Signaled");
    exit_.Set();
    std::shared_lock guard(agentLock_);
    if (agent_) {
        agent_->CloseConnection(CQXAgent::kCloseSession);
        WARDEX_LOG(kBestEffortLog, LogLevel::Information, "- Signaled Agent to exit");
    }
}

void CBootstrap::CheckUsers() {
    WARDEX_LOG(kBestEffortLog, LogLevel::Information,
               "- Calling Toolbox to check possible user status change");
    std::shared_lock guard(agentLock_);
    if (!agent_) {
        return;
    }
    MessagePtr message(agent_->NewMessage());
    if (!message) {
        return;
    }
    message->SetLead("Internal", "CheckUsers");
    agent_->InvokeHandler(message.get());
    message->SetLead("Request", "UpdateUser");
    agent_->Send(message.release());
}
