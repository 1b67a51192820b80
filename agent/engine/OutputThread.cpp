#include "agent/engine/OutputThread.h"

#include <algorithm>

#include "agent/engine/AgentSocket.h"
#include "common/err/Errors.h"
#include "common/ipc/IpcLines.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/SocketErrorText.h"
#include "common/lang/YieldBriefly.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "OutputThread";

std::size_t WireLength(msg::IQXMessage* message) {
    return static_cast<std::size_t>(message->GetTextLength());
}

}  // namespace

std::uint32_t COutputThread::Run(std::uint32_t) {
    if (!agent_ || !socket_ || !GetQueue()) {
        return 1;
    }
    for (;;) {
        WARDEX_LOG(*agent_, LogLevel::Information, "Waiting on data in output queue");
        lang::YieldBriefly([this] { return GetQueue()->Glance() > 0; });
        msg::IQXMessage* message = GetQueue()->WaitAndPop(lang::kInfinite);
        if (!message) {
            WARDEX_LOG(*agent_, LogLevel::Information,
                       "COutputThread::Run() Queue Signaled but no data");
            break;
        }
        if (!Send(message)) {
            break;
        }
    }
    WARDEX_LOG(*agent_, LogLevel::Information, "COutputThread::Run() Exiting Output thread");
    return 0;
}

// The first message is this thread's; the others are still the queue's.
bool COutputThread::Send(msg::IQXMessage* message) {
    std::vector<msg::IQXMessage*> messages{message};
    const std::size_t room = kBatchBytes - std::min(kBatchBytes, WireLength(message));
    const std::vector<msg::IQXMessage*> followers = GetQueue()->Front(room);
    messages.insert(messages.end(), followers.begin(), followers.end());
    try {
        Compose(messages);
        const int written =
            socket_->Write(wire_.data(), static_cast<unsigned>(wire_.size()), writeTimeoutMs_);
        return Settle(messages, static_cast<std::size_t>(std::max(written, 0)));
    } catch (const ipc::CIPCError& error) {
        WARDEX_LOG(*agent_, LogLevel::Debug,
                   "- IPC Exception\n\t %s:%d - %s\n\tvalue=%d, GetLastError() = "
                   "0x%08X\n\t%s",
                   error.Source(), error.Line(), error.Message(), error.Value(),
                   error.SystemError(),
                   ipc::SocketErrorText(static_cast<int>(error.SystemError())).c_str());
        if (error.Value() == ipc::kIpcTimedOut) {
            Requeue(messages);
            return true;
        }
        if (socket_->IsClosed() || ipc::IsConnectionLost(error.SystemError())) {
            KeepForTheStateFile(message);
            return false;
        }
        // The transport's own line is a detail; a reply that is lost must show as an error.
        WARDEX_LOG(*agent_, LogLevel::Error, "- Failed to send message %s=%s, dropped: %s",
                   message->GetLeadName(), message->GetLeadValue(), error.Message());
    } catch (...) {
        WARDEX_LOG(*agent_, LogLevel::Error, "- Unknown error while sending, message dropped");
    }
    message->Release();
    return true;
}

void COutputThread::Compose(const std::vector<msg::IQXMessage*>& messages) {
    wire_.clear();
    for (msg::IQXMessage* message : messages) {
        // The length counts the zero byte after the text, so it goes out too.
        const char* text = message->GetText();
        WARDEX_LOG(*agent_, LogLevel::Information, "Sending outbound message on IPC");
        WARDEX_LOG(*agent_, LogLevel::Debug, "Network Data OUT:\n%s\n", text);
        wire_.append(text, WireLength(message));
    }
}

bool COutputThread::Settle(const std::vector<msg::IQXMessage*>& messages, std::size_t written) {
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::size_t length = WireLength(messages[i]);
        if (i > 0 && written == 0) {
            return true;
        }
        if (i > 0) {
            GetQueue()->Pop();
        }
        messages[i]->Release();
        if (written < length) {
            WARDEX_LOG(*agent_, LogLevel::Error, "- Failed to send entire message");
            return false;
        }
        written -= length;
    }
    return true;
}

void COutputThread::KeepForTheStateFile(msg::IQXMessage* message) {
    GetQueue()->PushFront(message);
    WARDEX_LOG(*agent_, LogLevel::Error,
               "- The connection is closed, %zu message(s) stay in the output queue",
               GetQueue()->Size());
}

void COutputThread::Requeue(const std::vector<msg::IQXMessage*>& messages) {
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (i > 0) {
            GetQueue()->Pop();
        }
        WARDEX_LOG(*agent_, LogLevel::Information,
                   "- IPC Timed out, putting outgoing message back in output queue");
        GetQueue()->Push(messages[i]);
    }
}
