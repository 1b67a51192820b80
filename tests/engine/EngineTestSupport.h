#pragma once

#include <memory>
#include <string>

#include <corvane/IQXMessage.h>

#include "agent/engine/AgentSocket.h"
#include "agent/engine/DispatchThread.h"
#include "agent/engine/MsgFifoQueue.h"
#include "common/ipc/Aipc.h"
#include "common/msg/MessagePtr.h"
#include "common/msg/QXMessage.h"
#include "tests/support/RecordingAgent.h"

namespace enginetest {

using msg::MessagePtr;

// How long a test waits for something the code under test should do at once.
inline constexpr std::uint32_t kPatienceMs = 5000;

// Releases what is left in the queue.
inline void Drain(MsgFifoQueue& queue) {
    while (msg::IQXMessage* message = queue.Pop()) {
        message->Release();
    }
}

// A new message parsed from text.
inline MessagePtr MakeMessage(const std::string& text) {
    MessagePtr message(new msg::CQXMessage);
    message->Assign(text);
    return message;
}

// A connection thread on its socket, queue and agent. Leaving closes the socket and signals
// the queue, which ends a thread of either direction, waits for the thread and releases what
// is left queued.
template <typename Thread>
struct ThreadRig {
    explicit ThreadRig(std::unique_ptr<ipc::CIPCInterface> transport)
        : socket(std::move(transport)) {
        thread.SetQueue(&queue);
        thread.SetSocket(&socket);
        thread.SetAgent(&agent);
    }
    ~ThreadRig() {
        socket.Close();
        queue.Signal();
        thread.WaitForEnd();
        Drain(queue);
    }

    testsupport::RecordingAgent agent;
    MsgFifoQueue queue;
    CAgentSocket socket;
    Thread thread;
};

// A dispatch thread over messages "Request=Job<n>" with the field "Seq" <n>, queued
// beforehand, told to stop once they are taken.
struct QueuedDispatch {
    explicit QueuedDispatch(int messages) {
        dispatch.SetQueue(&queue);
        dispatch.SetAgent(&agent);
        for (int sequence = 1; sequence <= messages; ++sequence) {
            const std::string number = std::to_string(sequence);
            queue.Push(MakeMessage("Request=Job" + number + "\nSeq=" + number + "\n").release());
        }
        queue.Signal();
    }

    MsgFifoQueue queue;
    testsupport::RecordingAgent agent;
    CDispatch dispatch;
};

}  // namespace enginetest
