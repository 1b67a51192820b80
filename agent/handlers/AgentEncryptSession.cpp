#include "agent/handlers/AgentEncryptSession.h"

#include "agent/handlers/AgentCommands.h"
#include "agent/handlers/HandlerLines.h"
#include "common/err/Errors.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "handlers\\AgentEncryptSession";

}  // namespace

int CAgentEncryptSession::HandleMessage(IAgentCommands& agent, msg::IQXMessage* message) {
    if (!message) {
        return 0;
    }
    WARDEX_LOG_AT(agent, LogLevel::Information, handlers::lines::kEncryptCalling,
                  "CAgentEncryptSession::HandleMessage() - Calling app.EncryptSocket()");
    try {
        agent.EncryptSocket();
    } catch (const ipc::CIPCError& e) {
        WARDEX_LOG_AT(agent, LogLevel::Information, handlers::lines::kEncryptIpcError,
                      "CAgentEncryptSession::HandleMessage() - CIPCError caught encrypting "
                      "socket.\n\tFile=%s Line=%d, ErrorMsg=%s",
                      e.Source(), e.Line(), e.Message());
        return 1;
    } catch (const CAgentError& e) {
        WARDEX_LOG_AT(agent, LogLevel::Information, handlers::lines::kEncryptAgentError,
                      "CAgentEncryptSession::HandleMessage() - CAgentError caught encrypting "
                      "socket.\n\tFile=%s Line=%d, ErrorMsg=%s",
                      e.Source(), e.Line(), e.Message());
        return 1;
    } catch (...) {
        WARDEX_LOG_AT(agent, LogLevel::Information, handlers::lines::kEncryptUnknownError,
                      "CAgentEncryptSession::HandleMessage() - Unknown error caught encrypting "
                      "socket.");
        return 1;
    }
    return 0;
}
