#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "common/sys/FileDescriptor.h"
#include "tests/ipc/TlsTestServer.h"

// The management server's side of one agent connection in the session tests, written
// directly on the socket and, once the session is encrypted, on a blocking OpenSSL session
// over the same descriptor. Messages are their text and one zero byte. Every read is bounded
// by the wait, so an agent that stops answering fails a test instead of hanging it; failures
// are raised as std::runtime_error.
namespace enginetest {

class SessionServer {
public:
    static constexpr int kDefaultWaitMs = 20000;

    explicit SessionServer(sys::FileDescriptor socket, int waitMs = kDefaultWaitMs);

    int Socket() const { return socket_.Get(); }
    bool Encrypted() const { return ssl_ != nullptr; }

    // One message: the text and a zero byte.
    void Send(const std::string& text);
    // Bytes as they are, at most segment bytes per send (plain connection only).
    void SendRaw(const std::string& bytes, std::size_t segment = static_cast<std::size_t>(-1));
    // The next message's text; raises when none comes within the wait or the agent closes.
    std::string Next();
    // As Next, but null when the agent ends the connection in an orderly way first.
    std::optional<std::string> NextOrEnd();
    // Runs the server handshake of TLS over the connection; every later message is encrypted.
    void StartTls(const testipc::SslPtr<SSL_CTX>& context);
    // Ends the server's sending direction: the agent reads the end of the stream while its
    // replies can still arrive.
    void HalfClose();
    // Closes the connection in an orderly way, or with a reset.
    void Close();
    void Reset();

private:
    // Appends what arrives to the kept bytes; false at the end of the stream.
    bool ReceiveMore();

    sys::FileDescriptor socket_;
    testipc::SslPtr<SSL> ssl_;
    std::string kept_;
};

// The text of a request whose lead pair is "Request" and the name, with an "Action" for the
// session toolbox and more lines ("Name=value\n" each) after it.
std::string Request(const std::string& action, const std::string& lines = "");

}  // namespace enginetest
