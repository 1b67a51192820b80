#pragma once

#include <functional>
#include <memory>
#include <string>

#include <corvane/IQXMessage.h>

#include "agent/engine/DispatchThread.h"
#include "agent/engine/MsgFifoQueue.h"
#include "common/ipc/Aipc.h"
#include "common/msg/MessagePtr.h"
#include "common/msg/QXMessage.h"
#include "common/sys/CurrentProcess.h"
#include "tests/support/RecordingAgent.h"

namespace enginetest {

using msg::MessagePtr;

// How long a test waits for something the code under test should do at once.
inline constexpr std::uint32_t kPatienceMs = 5000;

// The next message of the queue, waiting up to kPatienceMs; null when none came.
inline MessagePtr PopWithin(MsgFifoQueue& queue, std::uint32_t timeoutMs = kPatienceMs) {
    return MessagePtr(queue.WaitAndPop(timeoutMs));
}

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

// A transport whose reads and writes run the functions a test gives it, for the outcomes
// a real socket cannot be made to produce on demand.
class ScriptedTransport final : public ipc::CIPCInterface {
public:
    std::function<int(const void*, unsigned)> write;
    std::function<int(void*, unsigned)> read;
    std::function<int()> disconnect = [] { return 0; };

    int Connect(const char*, const char*) override { return 0; }
    int Connect(const char*, int) override { return 0; }
    int Write(const void* buffer, unsigned length, unsigned) override {
        return write(buffer, length);
    }
    int Read(void* buffer, unsigned length, unsigned) override { return read(buffer, length); }
    int Disconnect() override { return disconnect(); }
    void CancelBlockingCall() override {}
};

// A dispatch thread over messages "Request=Job<n>" queued beforehand, told to stop once they
// are taken.
struct QueuedDispatch {
    explicit QueuedDispatch(int messages) {
        dispatch.SetQueue(&queue);
        dispatch.SetAgent(&agent);
        for (int sequence = 1; sequence <= messages; ++sequence) {
            queue.Push(testsupport::NewJob(sequence));
        }
        queue.Signal();
    }
    bool HandledHere(int sequence) const {
        return agent.Handled().count(sequence) == 1 &&
               agent.HandlerThread(sequence) == sys::CurrentThreadId();
    }

    MsgFifoQueue queue;
    testsupport::RecordingAgent agent;
    CDispatch dispatch;
};

}  // namespace enginetest
