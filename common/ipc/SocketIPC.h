#pragma once

#include <atomic>
#include <memory>

#include "common/ipc/Aipc.h"
#include "common/ipc/Deadline.h"
#include "common/lang/CriticalSection.h"

namespace ipc {

// A stream socket with blocking reads and writes bounded by a readiness wait. Reads and
// writes take separate locks, so one read and one write run at the same time; two reads (or
// two writes) take turns. Errors carry Windows Sockets numbers.
class CSocketIPC : public CIPCInterface {
public:
    CSocketIPC();
    ~CSocketIPC() override;

    // Sends as much as the socket takes within the time-out: all of it unless the peer stops
    // reading. A send buffer that stays full for the whole time-out raises the time-out
    // error (value 1); one that fills up part way returns the count sent.
    int Write(const void* buffer, unsigned length, unsigned timeoutMs) override;
    // One recv after data is ready. A closed peer never returns 0: it raises.
    int Read(void* buffer, unsigned length, unsigned timeoutMs) override;
    // Half-closes the sending side: the peer sees the end of the stream while bytes it still
    // sends can be read. The socket stays open until the object goes.
    int Disconnect() override;
    // Shuts the socket in both directions, so that a Read or Write blocked on another thread
    // raises at once, and so does every later one; a connect under way is abandoned and one
    // not yet begun is refused. Nothing waits for the peer, so a stop never hangs on a
    // server that has stopped reading.
    void CancelBlockingCall() override;

    virtual bool IsConnected() const = 0;
    virtual int NewSocket() = 0;

    enum class WaitMode { Read, Write };

    // True when the socket is ready, false when the deadline passed first; raises when the
    // wait itself fails. A transport on top waits with it before it commits to sending.
    bool IsReadyWithin(WaitMode mode, const Deadline& deadline) const;

protected:
    // The socket as the platform keeps it; never null, closed until a connection is made.
    class Socket;
    std::unique_ptr<Socket> socket_;
    std::atomic<bool> connected_{false};
    lang::CriticalSection readLock_;
    lang::CriticalSection writeLock_;
    lang::CriticalSection disconnectLock_;
    // Held by CancelBlockingCall and around the start of a connect, so that a cancel comes
    // either before the connect (which is then refused) or after it has begun (and ends it).
    lang::CriticalSection cancelLock_;
    bool cancelled_ = false;
};

}  // namespace ipc
