#pragma once

#include <memory>
#include <mutex>
#include <openssl/types.h>
#include <string>
#include <vector>

#include "common/ipc/TcpEncrypted.h"

namespace ipc {

// A TLS client over a connected transport that it owns. The handshake and every record go
// through the inner transport's Read and Write: no socket of its own, no client
// certificate, no host-name check; the server's chain must lead to a certificate of the
// default trust store (SSL_CERT_FILE and SSL_CERT_DIR move it), TLS 1.2 or newer.
// Writes longer than one record go out as several records, every record is sent whole, and
// bytes of partial or following records are kept for the next Read, including application
// data that came with the last handshake message. Reads and writes may run at the same time
// on two threads. In console mode it traces its calls on standard output.
class CTCPSChannel : public CTCPEncrypted {
public:
    explicit CTCPSChannel(std::unique_ptr<CIPCInterface> inner);
    ~CTCPSChannel() override;

    // A channel runs over a connection that exists: both forms raise.
    int Connect(const char* resource, const char* port) override;
    int Connect(const char* resource, int port) override;
    // Returns the bytes of the records sent, at least length when all went out. Bytes of a
    // record the inner transport did not take (it raised) go out first on the next Write.
    int Write(const void* buffer, unsigned length, unsigned timeoutMs) override;
    // Returns the application bytes placed at the start of buffer, once a whole record has
    // arrived; the time-out covers all the inner reads that takes.
    int Read(void* buffer, unsigned length, unsigned timeoutMs) override;
    // Disconnects and deletes the inner transport; Read and Write raise afterwards.
    int Disconnect() override;
    const std::string& HandshakeFailure() const override;

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
    struct SslDeleter {
        void operator()(SSL* ssl) const;
    };

    // Prints a failure line of the handshake and keeps it.
    void Fail(const std::string& text);
    // The failure of the step with the TLS engine's status and its reason.
    void FailWithStatus(int step, unsigned long status);
    bool StartSession(SSL_CTX* context);
    void Handshake();
    bool SendHandshakeOutput(int step);
    bool ReceiveHandshakeInput();
    // One inner Read, its bytes handed to the TLS engine; returns the inner result.
    int Receive(unsigned timeoutMs);
    // Takes what the TLS engine has produced for the server.
    std::vector<unsigned char> TakeOutput();
    // Sends the bytes not yet sent within the time-out; returns how many went out.
    int SendUnsent(unsigned timeoutMs);

    std::unique_ptr<SSL, SslDeleter> ssl_;
    BIO* fromServer_ = nullptr;  // owned by ssl_
    BIO* toServer_ = nullptr;    // owned by ssl_
    bool established_ = false;
    std::string handshakeFailure_;  // written by the handshake only, before the channel is shared
    std::vector<unsigned char> received_;  // one inner read, used by the reading thread
    std::vector<unsigned char> unsent_;    // record bytes the inner transport has not taken
    std::mutex readMutex_;                 // one Read at a time; held before writeMutex_
    std::mutex writeMutex_;                // one Write at a time, so records leave in order
    std::mutex sslMutex_;                  // the TLS engine, held only around its calls
};

}  // namespace ipc
