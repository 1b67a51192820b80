#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/ipc/Deadline.h"
#include "common/ipc/ServerIdentity.h"
#include "common/ipc/TcpEncrypted.h"

namespace ipc {

class TlsEngine;

// A TLS client over a connected transport that it owns. The handshake and every record go
// through the inner transport's Read and Write: no socket of its own, no client
// certificate; the server's chain must lead to a certificate of the
// platform's trust store (on Linux the default one, which SSL_CERT_FILE and SSL_CERT_DIR
// move; on Windows the system's root store, checked by the system's chain engine), TLS 1.2
// or newer. The server's name and key are checked as far as the identity policy asks; a
// server it refuses fails the handshake.
// Writes longer than one record go out as several records, every record is sent whole, and
// bytes of partial or following records are kept for the next Read, including application
// data that came with the last handshake message. A server's request for a new handshake
// (TLS 1.2) is refused with the no_renegotiation alert; a server that insists ends the
// session with an alert, which the next Read reports. Reads and writes may run at the same
// time on two threads. In console mode it traces its calls on standard output.
class CTCPSChannel : public CTCPEncrypted {
public:
    explicit CTCPSChannel(std::unique_ptr<CIPCInterface> inner,
                          const ServerIdentityPolicy& policy = ServerIdentityPolicy());
    ~CTCPSChannel() override;

    // A channel runs over a connection that exists: both forms raise.
    int Connect(const char* resource, const char* port) override;
    int Connect(const char* resource, int port) override;
    // Commits the data to the session record by record and returns the count of bytes
    // committed: length, unless the time-out passed part way. Over a socket a record is made
    // only once the socket can take bytes. From then on its data counts as written, as bytes
    // a socket took into its buffer do: what of the record has not left yet goes out first
    // with the next Write (or Read, or Disconnect), or is lost with the connection. So the
    // time-out (value 1) is raised only when nothing of this call was committed, and the
    // caller may write that data again without it reaching the server twice; a time-out
    // after some records returns their count instead. Other errors of the inner transport
    // pass on.
    int Write(const void* buffer, unsigned length, unsigned timeoutMs) override;
    // Returns the application bytes placed at the start of buffer, once a whole record has
    // arrived; the time-out covers all the inner reads that takes. What the TLS engine
    // answers on its own while reading (an alert, a key update) is sent at once, after a
    // Write in progress, as far as the connection takes it without waiting. The end of the
    // session raises the decrypt error, whose message names the server's close_notify or
    // alert.
    int Read(void* buffer, unsigned length, unsigned timeoutMs) override;
    // Sends close_notify when the session allows it, as far as the connection takes it
    // without waiting, then disconnects and deletes the inner transport; Read and Write raise
    // afterwards.
    int Disconnect() override;
    const std::string& HandshakeFailure() const override;
    bool TryCloseNotify() override;

    // The handshake. Its own failures are printed (console mode), kept for
    // HandshakeFailure and leave the channel without a session, so that the first Write or
    // Read raises; errors of the inner transport are raised as ipc::CIPCError.
    virtual void NegotiateSSL();
    // The records that carry the data.
    virtual std::vector<unsigned char> Encrypt(const void* data, unsigned length);
    // Up to length bytes of application data from what has been received; 0 while no
    // whole record is there.
    virtual unsigned Decrypt(void* buffer, unsigned length);

private:
    // Prints a failure line of the handshake and keeps it.
    void Fail(const std::string& text);
    // The TLS engine's last failure, in the step's words.
    void FailWithStatus(int step);
    // A session on the client settings NegotiateSSL made; false after a failure.
    bool StartSession();
    void Handshake();
    bool SendHandshakeOutput(int step);
    bool ReceiveHandshakeInput();
    // The handshake succeeded and the inner transport is still there.
    bool HasSession() const;
    // One inner Read, its bytes handed to the TLS engine; returns the inner result.
    int Receive(unsigned timeoutMs);
    // The TLS engine has bytes for the server.
    bool HasOutput();
    // Takes what the TLS engine has produced for the server.
    std::vector<unsigned char> TakeOutput();
    // Waits until the inner transport can take bytes (one that cannot tell counts as
    // ready); raises the time-out.
    void AwaitRoom(const Deadline& deadline) const;
    // Once the inner transport can take bytes, makes a record of the data (at most one
    // record's worth) and queues it to be sent; returns size.
    std::size_t CommitRecord(const unsigned char* data, std::size_t size, const Deadline& deadline);
    // Sends the bytes not yet sent, until the inner transport takes none (a result of 0 or
    // less); its errors, the time-out among them, pass on.
    void SendUnsent(const Deadline& deadline);
    // Sends the engine's output behind the bytes not yet sent, as far as the inner transport
    // takes them without waiting; the next Write or Read meets any error of the connection.
    void SendWhatFitsNow();
    // Best effort: nothing waits for it.
    void SendCloseNotify();

    // The platform's TLS client; this class moves its bytes and keeps the locks.
    std::unique_ptr<TlsEngine> engine_;  // never null
    // Written by the handshake only, before the channel is shared.
    bool established_ = false;
    std::string handshakeFailure_;
    std::vector<unsigned char> received_;  // one inner read, used by the reading thread
    std::vector<unsigned char> unsent_;    // bytes the inner transport has not taken yet
    std::mutex readMutex_;                 // one Read at a time; held before writeMutex_
    std::mutex writeMutex_;                // unsent_ and the inner Write: bytes leave in order
    std::mutex sslMutex_;                  // the TLS engine, held only around its calls
};

}  // namespace ipc
