#include "agent/MsgThread.h"

#include <exception>

#include "common/err/GeneralError.h"
#include "common/sys/CurrentProcess.h"

namespace {

constexpr const char* kSource = "MsgThread";

constexpr int kError = 0;
constexpr int kDebug = 2;

}  // namespace

void MsgThread::SetArgs(IAgentAPI* agent, msg::IQXMessage* message) {
    agent_ = agent;
    message_.reset(message);
    name_ = std::string(message->GetLeadName()) + "=" + message->GetLeadValue();
}

void MsgThread::Run() {
    threadId_.store(sys::CurrentThreadId());
    agent_->Log(kDebug, "%s:%d MsgThread::Run - New thread created to handle %s", kSource, __LINE__,
                name_.c_str());
    Handle();
    agent_->Log(kDebug, "%s:%d MsgThread::Run - Signaling Garbage Collecter, we are done", kSource,
                __LINE__);
    // The collector may delete this worker as soon as it is marked finished.
    lang::CEvent& endSignal = endSignal_;
    finished_.store(true, std::memory_order_release);
    endSignal.Set();
}

// A toolbox may throw anything; the worker must still end so that its message is released.
void MsgThread::Handle() {
    try {
        agent_->InvokeHandler(message_.get());
    } catch (const err::CGeneralError& error) {
        agent_->Log(kError,
                    "%s:%d MsgThread::Run - error while handling %s\n\t%s:%d - %s\n\tvalue=%d, "
                    "GetLastError() = 0x%08X",
                    kSource, __LINE__, name_.c_str(), error.Source(), error.Line(), error.Message(),
                    error.Value(), error.SystemError());
    } catch (const std::exception& error) {
        LogEscaped(error.what());
    } catch (...) {
        LogEscaped("unknown exception");
    }
}

void MsgThread::LogEscaped(const char* what) {
    agent_->Log(kError, "%s:%d MsgThread::Run - exception while handling %s: %s", kSource, __LINE__,
                name_.c_str(), what);
}
