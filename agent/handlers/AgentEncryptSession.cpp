#include "agent/handlers/AgentEncryptSession.h"

#include "agent/handlers/AgentCommands.h"
#include "common/err/Errors.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "handlers\\AgentEncryptSession";

// The lines the switch to encryption logs, fixed so that administrators' log filters keep
// matching.
constexpr int kLineCalling = 13;
constexpr int kLineIpcError = 24;
constexpr int kLineAgentError = 32;
constexpr int kLineUnknownError = 40;

}  // namespace

int CAgentEncryptSession::HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) {
    if (!message) {
        return 0;
    }
    WARDEX_LOG_AT(agent, LogLevel::Information, kLineCalling,
                  "CAgentEncryptSession::HandleMessage() - Calling app.EncryptSocket()");
    try {
        agent.EncryptSocket();
    } catch (const ipc::CIPCError& e) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kLineIpcError,
                      "CAgentEncryptSession::HandleMessage() - CIPCError caught encrypting "
                      "socket.\n\tFile=%s Line=%d, ErrorMsg=%s",
                      e.Source(), e.Line(), e.Message());
        return 1;
    } catch (const CAgentError& e) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kLineAgentError,
                      "CAgentEncryptSession::HandleMessage() - CAgentError caught encrypting "
                      "socket.\n\tFile=%s Line=%d, ErrorMsg=%s",
                      e.Source(), e.Line(), e.Message());
        return 1;
    } catch (...) {
        WARDEX_LOG_AT(agent, LogLevel::Information, kLineUnknownError,
                      "CAgentEncryptSession::HandleMessage() - Unknown error caught encrypting "
                      "socket.");
        return 1;
    }
    return 0;
}
