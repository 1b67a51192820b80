#include "agent/engine/QxAgent.h"

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "agent/engine/AgentSocket.h"
#include "agent/engine/EngineLines.h"
#include "agent/handlers/CommandTable.h"
#include "agent/log/AgentLog.h"
#include "agent/store/AgentStore.h"
#include "agent/toolbox/TbxDispatch.h"
#include "common/err/Errors.h"
#include "common/ipc/Aipc.h"
#include "common/ipc/TcpSocketIpc.h"
#include "common/msg/MessagePtr.h"
#include "common/msg/QXMessage.h"
#include "common/util/Console.h"
#include "common/util/LogLine.h"
#include "common/util/StringUtils.h"

namespace {

constexpr const char* kSource = "QxAgent";

// What the input queue holds at most before the input thread stops reading, so that a
// server faster than its toolboxes is slowed down by TCP instead of filling the memory.
// The bytes leave room for one message of the largest size the input thread accepts.
constexpr std::size_t kInputQueueMessages = 4096;
constexpr std::size_t kInputQueueBytes = std::size_t{32} << 20;

// Takes over a message handed to the agent: on the queue, or released when the agent has
// no queue (before Init or after Destroy) so that it is never lost unreleased.
void Keep(MsgFifoQueue* queue, msg::IQXMessage* message) {
    if (!message) {
        return;
    }
    if (queue) {
        queue->Push(message);
    } else {
        message->Release();
    }
}

// Releases every message still in the queue: nobody else will take them out.
void ReleaseAll(MsgFifoQueue& queue) {
    while (msg::IQXMessage* message = queue.Pop()) {
        message->Release();
    }
}

}  // namespace

CQXAgent::CQXAgent() = default;

CQXAgent::~CQXAgent() {
    socket_.reset();
    DeleteQueues();
}

void CQXAgent::Init(const util::ParamList& toolboxes,
                    std::unique_ptr<ipc::CIPCInterface> transport) {
    if (!transport) {
        transport = ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP);
    }
    plainTransport_ = dynamic_cast<ipc::CTCPSocketIPC*>(transport.get());
    inputQueue_ = std::make_unique<MsgFifoQueue>();
    inputQueue_->SetLimit(kInputQueueMessages, kInputQueueBytes);
    outputQueue_ = std::make_unique<MsgFifoQueue>();
    sinkQueue_ = std::make_unique<MsgFifoQueue>();
    socket_ = std::make_unique<CAgentSocket>(std::move(transport));
    input_.SetQueue(inputQueue_.get());
    output_.SetQueue(outputQueue_.get());
    dispatch_.SetQueue(inputQueue_.get());
    input_.SetSocket(socket_.get());
    output_.SetSocket(socket_.get());
    input_.SetAgent(this);
    input_.SetDispatch(&dispatch_);
    output_.SetAgent(this);
    dispatch_.SetAgent(this);
    toolboxes_ = std::make_unique<TbxDispatch>(toolboxes);
}

void CQXAgent::LoadState() {
    if (stateLoaded_) {
        return;
    }
    stateLoaded_ = true;
    if (const std::string failure = LoadAgentState(stateFile_, state_); !failure.empty()) {
        WARDEX_LOG(*this, LogLevel::Error,
                   "CQXAgent::LoadState() - the state file %s could not be read (%s); it was "
                   "moved to %s and the agent starts with an empty state",
                   stateFile_.c_str(), failure.c_str(), DamagedPath(stateFile_).c_str());
    }
}

bool CQXAgent::Start() {
    LoadState();
    ConnectToServer();
    output_.Start();
    dispatch_.Start();
    return input_.Start();
}

void CQXAgent::WaitForClose() {
    WARDEX_LOG(*this, LogLevel::Debug,
               "CQXAgent::WaitForClose() - Waiting for Input thread to exit");
    input_.WaitForEnd();
    WARDEX_LOG(*this, LogLevel::Debug,
               "CQXAgent::WaitForClose() - Waiting for  Dispatch thread to exit");
    // Returns once every queued message has been handled and every worker has ended, which
    // has released its message.
    dispatch_.Stop();
    WARDEX_LOG(*this, LogLevel::Debug, "CQXAgent::WaitForClose()) - Signaling the Output thread");
    output_.Signal();
    WARDEX_LOG(*this, LogLevel::Debug,
               "CQXAgent::WaitForClose() - Waiting for  Output thread to exit");
    output_.WaitForEnd();
    WARDEX_LOG(*this, LogLevel::Debug,
               "CQXAgent::WaitForClose() - All threads exited, exiting application");
}

// Every step is tried whatever the one before did: a failed disconnect must not keep the
// state file from being written.
void CQXAgent::Destroy() noexcept {
    try {
        WARDEX_LOG(*this, LogLevel::Debug, "CQXAgent::Destroy() ");
        WARDEX_LOG(*this, LogLevel::Debug, "CQXAgent::Destroy() - Closing socket connection");
        try {
            if (socket_) {
                socket_->Disconnect();
            }
        } catch (const ipc::CIPCError& e) {
            WARDEX_LOG(*this, LogLevel::Information,
                       "CQXAgent::Destroy()) - Caught exception\n\t%s:%d - %s\n\tException = "
                       "%d, GetLastError() returned 0x%0X",
                       e.Source(), e.Line(), e.Message(), e.Value(), e.SystemError());
        }
        WARDEX_LOG(*this, LogLevel::Debug, "About to serialize data");
        if (outputQueue_) {
            SaveAgentState(stateFile_, state_, *outputQueue_);
        }
        WARDEX_LOG(*this, LogLevel::Debug, "Deleting queues");
        DeleteQueues();
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(*this, LogLevel::Information,
                   "CQXAgent::Destroy()) - Caught unhandled General exception\n\t%s:%d - "
                   "%s\n\tException = %d, GetLastError() returned 0x%0X",
                   e.Source(), e.Line(), e.Message(), e.Value(), e.SystemError());
    } catch (...) {
        WARDEX_LOG(*this, LogLevel::Information,
                   "CQXAgent::Destroy()) - Caught ( ... ) GetLastError = 0x%08X",
                   err::LastSystemError());
    }
}

// The messages still queued were saved with the output queue; the agent is their last
// owner.
void CQXAgent::DeleteQueues() {
    for (std::unique_ptr<MsgFifoQueue>* queue : {&sinkQueue_, &outputQueue_, &inputQueue_}) {
        if (*queue) {
            ReleaseAll(**queue);
            queue->reset();
        }
    }
}

void CQXAgent::GetConnectSettings(std::string& address, std::string& port) {
    const msg::MessagePtr request(NewMessage());
    if (!request) {
        throw CAgentError(kSource, "No message for the connection settings.", __LINE__,
                          kAgentOperationFailed, err::LastSystemError());
    }
    request->SetLead("Settings", "Specific");
    request->SetField("TcpAddr", "");
    request->SetField("TcpPort", "");
    AgentCommand("GetAgentSettings", request.get());
    WARDEX_LOG(*this, LogLevel::Information, "The settings were successfully retrieved.");
    address = request->GetField("TcpAddr");
    port = request->GetField("TcpPort");
}

void CQXAgent::ConnectToServer() {
    try {
        std::string address;
        std::string port;
        GetConnectSettings(address, port);
        socket_->SetServerIdentity(ReadServerIdentity(address));
        socket_->Connect(address.c_str(), std::atoi(port.c_str()));
        RecordAddresses();
    } catch (const ipc::CIPCError& e) {
        WARDEX_LOG(*this, LogLevel::Error,
                   "CQXAgent::ConnectToServer() - exception thrown while trying to connect to "
                   "the QX.\n\tFile: %s, Line: %d, Error Message: %s",
                   e.Source(), e.Line(), e.Message());
        throw;
    } catch (...) {
        WARDEX_LOG(*this, LogLevel::Error,
                   "CQXAgent::ConnectToServer() - unknown exception thrown while trying to "
                   "connect to the QX.");
        throw CAgentError(kSource, "Unknown exception thrown while trying to connect to the QX.",
                          engine::lines::kConnectFailed, kAgentOperationFailed,
                          err::LastSystemError());
    }
}

ipc::ServerIdentityPolicy CQXAgent::ReadServerIdentity(const std::string& address) {
    const msg::MessagePtr request(new msg::CQXMessage);
    request->SetField("Settings", "Specified");
    request->SetField("VerifyServerName", "0");
    request->SetField("ServerCertificatePins", "");
    AgentCommand("GetAgentSettings", request.get());
    ipc::ServerIdentityPolicy policy;
    if (request->GetFieldBool("VerifyServerName")) {
        policy.name = address;
    }
    policy.pins = request->GetField("ServerCertificatePins");
    return policy;
}

// Only the plain transport knows the addresses; it is still on top right after connecting.
void CQXAgent::RecordAddresses() {
    if (plainTransport_) {
        state_.Set("Destination-Address", plainTransport_->GetRemoteAddress());
        state_.Set("Source-Address", plainTransport_->GetLocalAddress());
    }
}

void CQXAgent::EncryptSocket() {
    try {
        socket_->EncryptSocket();
        // The channel's own trace of a failed handshake reaches only a console; without
        // this line the log would show no more than the failed read that follows.
        if (const std::string failure = socket_->HandshakeFailure(); !failure.empty()) {
            WARDEX_LOG(*this, LogLevel::Error,
                       "CQXAgent::EncryptSocket() - the TLS handshake failed: %s", failure.c_str());
        }
        WARDEX_LOG(*this, LogLevel::Information,
                   "CQXAgent::EncryptSocket() - new socket retrieved, returning.");
    } catch (const ipc::CIPCError& e) {
        const std::string text = util::Format(
            "CQXAgent::EncryptSocket() - CIPCError thrown while attempting to get a new "
            "encrypted socket.\n\tFile: %s, Line: %d, Error Message: %s",
            e.Source(), e.Line(), e.Message());
        WARDEX_LOG(*this, LogLevel::Error, "%s", text.c_str());
        throw CAgentError(kSource, text, engine::lines::kEncryptFailed, kAgentOperationFailed,
                          err::LastSystemError());
    } catch (...) {
        constexpr const char* kText =
            "CQXAgent::EncryptSocket() - Unknown error thrown while attempting to get a new "
            "encrypted socket.";
        WARDEX_LOG(*this, LogLevel::Error, "%s", kText);
        throw CAgentError(kSource, kText, engine::lines::kEncryptFailedUnknown,
                          kAgentOperationFailed, err::LastSystemError());
    }
}

void CQXAgent::CloseConnection(int reason) {
    if (reason == kCloseForGood) {
        closeRequested_ = true;
    }
    if (socket_) {
        socket_->Close();
    }
}

void CQXAgent::UserInput() {
    util::ConsolePrintf("UserInput called\n");
}

bool CQXAgent::AgentCommand(const std::string& command, msg::IQXMessage* message) {
    WARDEX_LOG(*this, LogLevel::Debug, "CQXAgent::AgentCommand - %s", command.c_str());
    util::ConsolePrintf("AgentCommand called - command=%s\n", command.c_str());
    const std::unique_ptr<CAgentMessageHandler> handler = MakeCommandHandler(command);
    if (handler) {
        handler->HandleMessage(*this, message);
        return true;
    }
    if (message) {
        message->Clear();
        const std::string text = command + "=BadCommand";
        message->Parse(text.c_str(), static_cast<int>(text.size()));
    }
    return false;
}

bool CQXAgent::InvokeHandler(msg::IQXMessage* message) {
    WARDEX_LOG(*this, LogLevel::Debug, "InvokeHandler called - %s=%s", message->GetLeadName(),
               message->GetLeadValue());
    if (!toolboxes_) {
        WARDEX_LOG(*this, LogLevel::Error, "CQXAgent::InvokeHandler() - No Toolbox Dispatch.");
        return true;
    }
    toolboxes_->HandleMessage(message, this);
    return true;
}

// The text is formatted here and written as it is, so a "%" inside message data reaches
// the log unchanged. Logging is best effort: a log file that cannot be written never
// becomes the caller's failure.
void CQXAgent::Log(int level, const char* format, ...) {
    // Most lines go nowhere: composing them would cost more than handling a short message.
    if (!util::IsConsoleMode() &&
        !logging::CAgentLog::GetInstance()->Takes(static_cast<unsigned>(level))) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    const std::string text = util::FormatV(format, arguments);
    va_end(arguments);
    util::ConsolePrintf("Log called \nMessage: %s\n", text.c_str());
    try {
        logging::CAgentLog::GetInstance()->Log(static_cast<unsigned>(level), "%s", text.c_str());
    } catch (const err::CGeneralError&) {
    }
}

msg::IQXMessage* CQXAgent::NewMessage() {
    WARDEX_LOG(*this, LogLevel::Debug, "CQXAgent::NewMessage()");
    util::ConsolePrintf("NewMessage called\n");
    return new (std::nothrow) msg::CQXMessage;
}

void CQXAgent::Send(msg::IQXMessage* message) {
    WARDEX_LOG(*this, LogLevel::Information, "CQXAgent::Send() - Called by Toolbox");
    Keep(outputQueue_.get(), message);
}

msg::IQXMessage* CQXAgent::FetchFromMessageSink(std::int32_t sinkType) {
    WARDEX_LOG(*this, LogLevel::Information,
               "CQXAgent::FetchFromMessageSink() - Called by Toolbox");
    return sinkQueue_ ? sinkQueue_->RemoveFirstMatch(CSinkFilter(sinkType)) : nullptr;
}

msg::IQXMessage* CQXAgent::FetchFromMessageSinkReverse(std::int32_t sinkType) {
    WARDEX_LOG(*this, LogLevel::Information,
               "CQXAgent::FetchFromMessageSinkReverse() - Called by Toolbox");
    return sinkQueue_ ? sinkQueue_->RemoveLastMatch(CSinkFilter(sinkType)) : nullptr;
}

void CQXAgent::AddToMessageSink(msg::IQXMessage* message, std::int32_t sinkType) {
    WARDEX_LOG(*this, LogLevel::Information, "CQXAgent::AddToMessageSink() - Called by Toolbox");
    if (message) {
        message->SetField("SinkType", static_cast<int>(sinkType));
    }
    Keep(sinkQueue_.get(), message);
}
