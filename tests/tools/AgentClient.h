#pragma once

#include <memory>
#include <openssl/types.h>
#include <string>

#include "common/sys/FileDescriptor.h"

namespace simtest {

// Plays the agent against qxsim on a raw socket and OpenSSL, independent of the agent's own
// transport: sends message texts with their zero byte, reads them back, and switches to TLS
// as the agent does after a successful session reply. Every read gives up after 10 s.
// Failures are std::runtime_error.
class AgentClient {
public:
    explicit AgentClient(int port);
    ~AgentClient();
    AgentClient(const AgentClient&) = delete;
    AgentClient& operator=(const AgentClient&) = delete;

    // The text and its zero byte.
    void Send(const std::string& text);
    // Bytes exactly as given.
    void SendRaw(const std::string& bytes);
    // The next message text (without its zero byte).
    std::string Receive();
    // True when the server closes the connection before another message arrives.
    bool ClosedByServer();
    // Runs the client handshake, trusting only the authority in caFile.
    void StartTls(const std::string& caFile);
    bool Encrypted() const { return ssl_ != nullptr; }
    void Close();

private:
    // Appends what the next read gives; 0 at the end of the stream.
    std::size_t ReadMore();

    sys::FileDescriptor socket_;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    std::string pending_;
};

}  // namespace simtest
