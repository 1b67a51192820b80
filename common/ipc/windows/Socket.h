#pragma once

#include <atomic>
#include <winsock2.h>

#include "common/ipc/Deadline.h"
#include "common/ipc/SocketIPC.h"
#include "common/ipc/windows/SocketHandle.h"

namespace ipc {

// The socket of a CSocketIPC, with a second one that wakes its waits. Winsock's shutdown
// does not end a select that another thread is blocked in, so a cancel sends a byte to a
// datagram socket connected to itself, which every wait watches too; from then on every
// wait ends at once.
class CSocketIPC::Socket : public SocketHandle {
public:
    // What ended a wait.
    enum class Outcome {
        TimedOut,
        Ready,    // for a connect: it succeeded
        Failed,   // a connect failed (Winsock reports that among the exceptions)
        WokenUp,  // by Wake
    };
    enum class Condition { Readable, Writable, Connected };

    // Takes a new stream socket and makes the wake-up socket to go with it (best effort: a
    // cancel without it still shuts the socket).
    void Open(SOCKET stream);
    // Ends every wait of this socket, now and from now on.
    void Wake();
    bool IsWoken() const { return woken_; }
    // Waits for the condition until the deadline; raises the select error.
    Outcome Wait(Condition condition, const Deadline& deadline) const;

private:
    SocketHandle wakeUp_;
    std::atomic<bool> woken_{false};
};

}  // namespace ipc
