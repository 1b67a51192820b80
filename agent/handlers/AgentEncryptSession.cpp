#include "agent/handlers/AgentEncryptSession.h"

#include "agent/QxAgent.h"
#include "common/err/Errors.h"

namespace {

constexpr const char* kSource = "handlers\\AgentEncryptSession";

}  // namespace

int CAgentEncryptSession::HandleMessage(CQXAgent& agent, msg::IQXMessage* message) {
    if (!message) {
        return 0;
    }
    agent.Log(1, "%s:%d CAgentEncryptSession::HandleMessage() - Calling app.EncryptSocket()",
              kSource, 13);
    try {
        agent.EncryptSocket();
    } catch (const ipc::CIPCError& e) {
        agent.Log(1,
                  "%s:%d CAgentEncryptSession::HandleMessage() - CIPCError caught encrypting "
                  "socket.\n\tFile=%s Line=%d, ErrorMsg=%s",
                  kSource, 24, e.Source(), e.Line(), e.Message());
        return 1;
    } catch (const CAgentError& e) {
        agent.Log(1,
                  "%s:%d CAgentEncryptSession::HandleMessage() - CAgentError caught encrypting "
                  "socket.\n\tFile=%s Line=%d, ErrorMsg=%s",
                  kSource, 32, e.Source(), e.Line(), e.Message());
        return 1;
    } catch (...) {
        agent.Log(1,
                  "%s:%d CAgentEncryptSession::HandleMessage() - Unknown error caught encrypting "
                  "socket.",
                  kSource, 40);
        return 1;
    }
    return 0;
}
