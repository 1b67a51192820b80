#include "agent/engine/InputThread.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "agent/engine/AgentSocket.h"
#include "agent/engine/Dispatch.h"
#include "agent/engine/EngineLines.h"
#include "common/ipc/IpcLines.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/SocketErrorText.h"
#include "common/msg/QXMessage.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "InputThread";
// How often a wait for room in the input queue looks whether the socket has been closed.
constexpr std::uint32_t kRoomCheckMs = 100;
// The error lines carry the numbers they always had, which administrators' log filters match.

// Socket errors after which reading again cannot succeed.
constexpr std::array<std::uint32_t, 11> kUnrecoverable = {10038, 10013, 10014, 10022, 10050, 10054,
                                                          10051, 10050, 10054, 10053, 10061};

bool IsUnrecoverable(std::uint32_t code) {
    return std::find(kUnrecoverable.begin(), kUnrecoverable.end(), code) != kUnrecoverable.end();
}

// A read that found the stream ended: closed by the peer (no code), or reset or shut.
bool IsEndOfStream(std::uint32_t code) {
    return code == 0 || code == ipc::kWsaNetReset || code == ipc::kWsaShutdown ||
           code == ipc::kWsaDisconnected;
}

}  // namespace

std::uint32_t CInputThread::Run(std::uint32_t) {
    if (!agent_ || !socket_ || !GetQueue()) {
        return 1;
    }
    try {
        ReadSettings();
        CMessageFramer framer;
        std::vector<char> buffer(kBufferBytes);
        for (;;) {
            try {
                ReadOnce(framer, buffer.data(), readTimeoutMs_.load());
            } catch (const ipc::CIPCError& error) {
                if (!HandleReadError(error)) {
                    return 0;
                }
            }
        }
    } catch (...) {
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kInputUnknownException,
                      "- caught undefined exception ( ... ) Exiting Input Thread");
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kInputExitingAfterException,
                      "-  Exiting Input Thread");
    }
    return 0;
}

// The setting "TestConnectionEvery" in minutes is asked of the agent with 15 as the value
// that comes back when it is not stored.
void CInputThread::ReadSettings() {
    MessagePtr request(new msg::CQXMessage);
    request->SetField("Settings", "Specified");
    request->SetField("TestConnectionEvery", 15);
    request->SetField("RequireEncrypt", "0");
    agent_->AgentCommand("GetAgentSettings", request.get());
    requireEncrypt_ = request->GetFieldBool("RequireEncrypt");
    const int minutes = request->GetFieldInt("TestConnectionEvery");
    if (minutes <= 0) {
        readTimeoutMs_ = kDefaultReadTimeoutMs;
        return;
    }
    const std::uint64_t timeout = std::uint64_t{static_cast<unsigned>(minutes)} * msPerMinute_;
    // Stay finite: lang::kInfinite would turn a long time-out into none at all.
    readTimeoutMs_ =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(timeout, lang::kInfinite - 1));
}

void CInputThread::ReadOnce(CMessageFramer& framer, char* buffer, std::uint32_t timeoutMs) {
    WARDEX_LOG(*agent_, LogLevel::Information, "Waiting on Input from IPC");
    const int count = socket_->Read(buffer, kBufferBytes, timeoutMs);
    const auto anomalies = framer.Feed(buffer, static_cast<std::size_t>(std::max(count, 0)),
                                       [this](std::string_view text) { Receive(text); });
    ReportAnomalies(anomalies);
}

void CInputThread::Receive(std::string_view text) {
    // The text is parsed from a string of the thread's own, whose memory stays for the next.
    received_.assign(text);
    MessagePtr message(new msg::CQXMessage);
    message->Assign(received_);
    // The bytes as they came: the line costs no rebuilt text when the log does not take it.
    WARDEX_LOG(*agent_, LogLevel::Debug, "- Network Data IN:\n%.*s\n",
               static_cast<int>(text.size()), text.data());
    if (!Admit(*message)) {
        return;
    }
    WARDEX_LOG(*agent_, LogLevel::Information, "- Adding new message to Input Queue");
    CheckEncryption(*message);
    Enqueue(std::move(message));
}

void CInputThread::ReportAnomalies(const CMessageFramer::Anomalies& anomalies) {
    if (anomalies.oversizedStarted) {
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kInputOversized,
                      "- Message over %zu bytes, discarding it up to its end",
                      CMessageFramer::kMaxMessageBytes);
    }
    if (anomalies.oversizedEnded > 0) {
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kInputOversizedDiscarded,
                      "- Discarded %zu message(s) over %zu bytes", anomalies.oversizedEnded,
                      CMessageFramer::kMaxMessageBytes);
    }
    if (anomalies.droppedAfterEmpty > 0) {
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kInputAfterEmptyDiscarded,
                      "- Empty message received, discarded the %zu bytes after it",
                      anomalies.droppedAfterEmpty);
    }
}

bool CInputThread::Admit(const msg::IQXMessage& message) {
    if (!requireEncrypt_ || socket_->IsEncrypted() ||
        std::strcmp(message.GetField("Reply"), "CreateSession") == 0) {
        return true;
    }
    WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kInputDroppedBeforeEncryption,
                  "- RequireEncrypt: dropped %s=%s, sent before the connection was encrypted",
                  message.GetLeadName(), message.GetLeadValue());
    return false;
}

void CInputThread::CheckEncryption(msg::IQXMessage& message) {
    if (!std::strstr(message.GetField("Reply"), "CreateSession")) {
        return;
    }
    if (std::strstr(message.GetField("Result"), "Success")) {
        agent_->AgentCommand("EnableEncryption", &message);
    }
    if (requireEncrypt_ && !socket_->IsEncrypted()) {
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kInputSessionNotEncrypted,
                      "- RequireEncrypt: the session reply did not lead to an encrypted "
                      "connection (Result=%s), closing it",
                      message.GetField("Result"));
        socket_->Close();
    }
}

void CInputThread::Enqueue(MessagePtr message) {
    MsgFifoQueue& queue = *GetQueue();
    if (!queue.WaitForRoom(0)) {
        WARDEX_LOG(*agent_, LogLevel::Information,
                   "- Input queue full, waiting for room before reading on");
        // A closed socket ends the wait: the message still goes on the queue, and the next
        // read ends the thread.
        while (!socket_->IsClosed() && !queue.WaitForRoom(kRoomCheckMs)) {
        }
    }
    queue.Push(message.release());
    if (dispatch_) {
        dispatch_->Offer();
    }
}

bool CInputThread::HandleReadError(const ipc::CIPCError& error) {
    const std::uint32_t code = error.SystemError();
    WARDEX_LOG(*agent_, LogLevel::Information,
               "- IPCException\n\tThrown from %s:%d -message = %s\n\tSystemError Value = "
               "0x%08X\n\t%s",
               error.Source(), error.Line(), error.Message(), code,
               ipc::SocketErrorText(static_cast<int>(code)).c_str());
    if (error.Value() == ipc::kIpcTimedOut) {
        MessagePtr ping(new msg::CQXMessage);
        ping->SetLead("Internal", "Ping");
        Enqueue(std::move(ping));
        return true;
    }
    if (IsUnrecoverable(code)) {
        WARDEX_LOG(*agent_, LogLevel::Information,
                   "- Socket exception cannot be recovered, GetLastError() returned 0x%08X", code);
        return false;
    }
    if (IsEndOfStream(code)) {
        WARDEX_LOG(*agent_, LogLevel::Information, "- Socket appears to be closed");
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kInputExitingOnReadError,
                      "- Exiting Input Thread");
        return false;
    }
    return true;
}
