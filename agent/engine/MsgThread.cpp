#include "agent/engine/MsgThread.h"

#include <exception>

#include "agent/engine/EngineLines.h"
#include "common/err/GeneralError.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "MsgThread";
// The error lines carry the numbers they always had, which administrators' log filters match.

}  // namespace

void MsgThread::SetArgs(IAgentAPI* agent, msg::IQXMessage* message) {
    agent_ = agent;
    message_.reset(message);
    name_ = std::string(message->GetLeadName()) + "=" + message->GetLeadValue();
}

void MsgThread::Run() {
    WARDEX_LOG(*agent_, LogLevel::Debug, "MsgThread::Run - New thread created to handle %s",
               name_.c_str());
    Handle();
}

// A toolbox may throw anything; the worker must still end so that its message is released.
void MsgThread::Handle() {
    try {
        agent_->InvokeHandler(message_.get());
    } catch (const err::CGeneralError& error) {
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kWorkerError,
                      "MsgThread::Run - error while handling %s\n\t%s:%d - %s\n\tvalue=%d, "
                      "GetLastError() = 0x%08X",
                      name_.c_str(), error.Source(), error.Line(), error.Message(), error.Value(),
                      error.SystemError());
    } catch (const std::exception& error) {
        LogEscaped(error.what());
    } catch (...) {
        LogEscaped("unknown exception");
    }
}

void MsgThread::LogEscaped(const char* what) {
    WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kWorkerException,
                  "MsgThread::Run - exception while handling %s: %s", name_.c_str(), what);
}
