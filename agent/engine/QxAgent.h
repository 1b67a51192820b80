#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <corvane/PrintfFormat.h>

#include "agent/engine/Dispatch.h"
#include "agent/engine/InputThread.h"
#include "agent/engine/OutputThread.h"
#include "agent/handlers/AgentCommands.h"
#include "agent/queue/MsgFifoQueue.h"
#include "agent/store/AgentState.h"
#include "common/ipc/Aipc.h"
#include "common/util/ParamList.h"

class CAgentSocket;
class TbxDispatch;

namespace ipc {
class CTCPSocketIPC;
}

// The agent's engine for one connection to the management server: it owns the connection,
// the input, output and message-sink queues, the input and output threads, the dispatch of the
// messages to workers and the
// toolbox chain, and it is the callback object every toolbox and built-in handler is given.
//
// The bootstrap drives it in this order: Init, Start, WaitForClose, Destroy, destruction.
// One object serves one connection; a reconnect builds a new one.
class CQXAgent final : public IAgentCommands {
public:
    CQXAgent();
    ~CQXAgent() override;
    CQXAgent(const CQXAgent&) = delete;
    CQXAgent& operator=(const CQXAgent&) = delete;

    // Creates the plain transport, the queues, the socket wrapper and the toolbox chain,
    // and binds the threads to them. A transport given is used instead of a new TCP one
    // (for outcomes a real connection cannot be made to produce on demand).
    void Init(const util::ParamList& toolboxes,
              std::unique_ptr<ipc::CIPCInterface> transport = nullptr);
    // Reads the state file, once: a later call does nothing, so the bootstrap can load it
    // before it applies the configuration and Start keeps what was set meanwhile. A file
    // that cannot be read is set aside with a log line and the state starts empty.
    void LoadState();
    // Loads the state file (LoadState), connects to the server of the settings and starts
    // the output thread, the dispatch and the input thread. Connection errors are raised
    // (ipc::CIPCError as it is, anything else as CAgentError); true when the input thread
    // started.
    bool Start();
    // Returns once every agent thread has ended: the input thread first (the connection
    // ended), then every worker, then the output thread.
    void WaitForClose();
    // Disconnects, writes the state file and deletes the queues. Never raises.
    void Destroy() noexcept;

    void ConnectToServer();
    void GetConnectSettings(std::string& address, std::string& port);
    void EncryptSocket() override;
    void CloseConnection(int reason) override;
    bool IsCloseRequested() const { return closeRequested_.load(); }
    CAgentState& GetAgentState() override { return state_; }

    // Where the state file is kept: "wardex.dat" in the current folder unless set.
    void SetStateFile(const std::string& path) { stateFile_ = path; }
    // Tuning for tests and benchmarks; set before Start.
    CInputThread& GetInputThread() { return input_; }
    COutputThread& GetOutputThread() { return output_; }
    CDispatch& GetDispatch() { return dispatch_; }

    void UserInput() override;
    bool AgentCommand(const std::string& command, msg::IQXMessage* message) override;
    bool InvokeHandler(msg::IQXMessage* message) override;
    void Log(int level, const char* format, ...) override CORVANE_PRINTF_FORMAT(3, 4);
    msg::IQXMessage* NewMessage() override;
    void Send(msg::IQXMessage* message) override;
    msg::IQXMessage* FetchFromMessageSink(std::int32_t sinkType) override;
    msg::IQXMessage* FetchFromMessageSinkReverse(std::int32_t sinkType) override;
    void AddToMessageSink(msg::IQXMessage* message, std::int32_t sinkType) override;

private:
    // What the settings ask of the certificate of the server at address.
    ipc::ServerIdentityPolicy ReadServerIdentity(const std::string& address);
    void RecordAddresses();
    void DeleteQueues();

    std::unique_ptr<CAgentSocket> socket_;
    // The plain transport at the bottom of the socket, owned through it.
    ipc::CTCPSocketIPC* plainTransport_ = nullptr;
    CInputThread input_;
    COutputThread output_;
    CDispatch dispatch_;
    CAgentState state_;
    std::unique_ptr<MsgFifoQueue> inputQueue_;
    std::unique_ptr<MsgFifoQueue> outputQueue_;
    std::unique_ptr<MsgFifoQueue> sinkQueue_;
    std::unique_ptr<TbxDispatch> toolboxes_;
    std::atomic<bool> closeRequested_{false};
    std::string stateFile_ = "wardex.dat";
    bool stateLoaded_ = false;
};
