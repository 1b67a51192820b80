#include "agent/OutputThread.h"

#include <memory>

#include "agent/AgentSocket.h"
#include "common/err/Errors.h"
#include "common/ipc/SocketErrorText.h"

namespace {

constexpr const char* kSource = "OutputThread";
constexpr int kError = 0;
constexpr int kInformation = 1;
constexpr int kDebug = 2;
constexpr int kTimedOut = 1;

}  // namespace

std::uint32_t COutputThread::Run(std::uint32_t) {
    if (!agent_ || !socket_ || !GetQueue()) {
        return 1;
    }
    for (;;) {
        agent_->Log(kInformation, "%s:%d Waiting on data in output queue", kSource, __LINE__);
        msg::IQXMessage* message = GetQueue()->WaitAndPop(lang::kInfinite);
        if (!message) {
            agent_->Log(kInformation, "%s:%d COutputThread::Run() Queue Signaled but no data",
                        kSource, __LINE__);
            break;
        }
        if (!Send(message)) {
            break;
        }
    }
    agent_->Log(kInformation, "%s:%d COutputThread::Run() Exiting Output thread", kSource,
                __LINE__);
    return 0;
}

bool COutputThread::Send(msg::IQXMessage* message) {
    std::unique_ptr<msg::IQXMessage, void (*)(msg::IQXMessage*)> held(
        message, [](msg::IQXMessage* owned) { owned->Release(); });
    try {
        // The length counts the zero byte after the text, so it goes out too.
        const char* text = message->GetText();
        const int length = message->GetTextLength();
        agent_->Log(kInformation, "%s:%d Sending outbound message on IPC", kSource, __LINE__);
        agent_->Log(kDebug, "%s:%d Network Data OUT:\n%s\n", kSource, __LINE__, text);
        const int written = socket_->Write(text, static_cast<unsigned>(length), writeTimeoutMs_);
        if (written < length) {
            agent_->Log(kError, "%s:%d - Failed to send entire message", kSource, __LINE__);
            return false;
        }
    } catch (const ipc::CIPCError& error) {
        agent_->Log(kDebug,
                    "%s:%d - IPC Exception\n\t %s:%d - %s\n\tvalue=%d, GetLastError() = "
                    "0x%08X\n\t%s",
                    kSource, __LINE__, error.Source(), error.Line(), error.Message(), error.Value(),
                    error.SystemError(),
                    ipc::SocketErrorText(static_cast<int>(error.SystemError())).c_str());
        if (error.Value() == kTimedOut) {
            agent_->Log(kInformation,
                        "%s:%d - IPC Timed out, putting outgoing message back in output queue",
                        kSource, __LINE__);
            GetQueue()->Push(held.release());
        }
    } catch (...) {
        agent_->Log(kError, "%s:%d - Unknown error while sending, message dropped", kSource,
                    __LINE__);
    }
    return true;
}
