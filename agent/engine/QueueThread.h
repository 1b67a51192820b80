#pragma once

#include "agent/queue/MsgFifoQueue.h"
#include "common/lang/IAThreads.h"

// A thread that serves one queue (not owned). Its owner stops it with Signal once the
// queue's producers have stopped: the thread drains the queue, gets null from WaitAndPop
// and returns from Run.
class CQueueThread : public lang::IAThread {
public:
    bool SetQueue(MsgFifoQueue* queue) {
        queue_ = queue;
        return true;
    }
    void Signal() {
        if (queue_) {
            queue_->Signal();
        }
    }

protected:
    MsgFifoQueue* GetQueue() const { return queue_; }

private:
    MsgFifoQueue* queue_ = nullptr;
};
