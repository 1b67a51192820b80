#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "common/sys/linux/FileDescriptor.h"
#include "tests/support/ScratchFiles.h"
#include "tools/qxsim/Certificates.h"

// The other end of the agent's connection in the tests and benchmarks, written directly on
// sockets and OpenSSL: a server on 127.0.0.1 and a peer that reads and writes bytes and
// messages (their text and one zero byte), in plain text or over TLS with certificates made at
// run time. TLS runs over memory buffers, so a test decides which bytes leave in which TCP
// segment. Every wait is bounded, so a side that stops answering fails a test instead of
// hanging it; failures are raised as std::runtime_error.
namespace testsupport {

// How long the test's side waits for the other one before it gives up.
inline constexpr int kPeerWaitMs = 20000;
// Sends everything in one call.
inline constexpr std::size_t kWhole = static_cast<std::size_t>(-1);

// A TCP socket listening on 127.0.0.1 at a port the kernel chose.
class TestServer {
public:
    TestServer();

    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // The next connection, with Nagle's delay off so that each send leaves as it is.
    sys::FileDescriptor Accept();

private:
    sys::FileDescriptor socket_;
    int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (it was bound and released again).
int ClosedPort();

// Sends all bytes, at most segment bytes per send.
void SendAll(int socket, const void* data, std::size_t length, std::size_t segment = kWhole);
void SendAll(int socket, const std::string& data);
// Up to length bytes, waiting for the first; empty when the other side has closed.
std::string ReceiveSome(int socket, std::size_t length);
// Exactly length bytes; raises when the other side closes first.
std::string ReceiveExactly(int socket, std::size_t length);
// Closes with a reset instead of an orderly end.
void ResetConnection(sys::FileDescriptor& socket);

template <typename T>
using SslPtr = qxsim::OpenSslPtr<T>;

// Two server certificates for 127.0.0.1 made at run time, each signed by an authority of its
// own. The first authority is written to a temporary file that SSL_CERT_FILE names, so the
// agent's default trust store trusts it alone.
class TestPki {
public:
    // Made once per process, on the first call, before any thread of a test starts.
    static TestPki& Instance();

    // A server context with the trusted (or the untrusted) chain. maxVersion 0 allows every
    // version, TLS1_2_VERSION caps it.
    SslPtr<SSL_CTX> ServerContext(bool trusted, int maxVersion = 0) const;

private:
    TestPki();

    qxsim::GeneratedCertificate trusted_;
    qxsim::GeneratedCertificate untrusted_;
    scratch::ScratchFolder folder_;
    std::string caFile_ = folder_ / "ca.pem";
};

// A client context that trusts only the authority in caFile.
SslPtr<SSL_CTX> ClientContext(const std::string& caFile);

// One connection, on either side: accepted by a TestServer, or connected to a server under
// test. Encrypted once StartTls has succeeded.
class Peer {
public:
    explicit Peer(sys::FileDescriptor socket);
    // The client side of a connection to port on 127.0.0.1.
    static Peer ConnectTo(int port);

    int Socket() const { return socket_.Get(); }
    bool Encrypted() const { return encrypted_; }

    // One message: the text and a zero byte.
    void Send(const std::string& text);
    // Bytes as they are, on the socket, at most segment bytes per send.
    void SendRaw(const std::string& bytes, std::size_t segment = kWhole);
    // The next message's text; raises when none comes within the wait or the stream ends.
    std::string Next();
    // As Next, but null when the stream ends in an orderly way first.
    std::optional<std::string> NextOrEnd();
    // Exactly length bytes of data; raises when the stream ends first.
    std::string Receive(std::size_t length);

    // Runs the TLS handshake of the context's side, at most segment bytes per send; false when
    // it failed (the other side rejected the certificate, or closed). With flushLast false the
    // last flight stays queued for the next Flush.
    bool StartTls(const SslPtr<SSL_CTX>& context, std::size_t segment = kWhole,
                  bool flushLast = true);
    // Encrypts plaintext into one or more records queued for Flush.
    void Queue(const std::string& plaintext);
    // Sends everything queued, at most segment bytes per send.
    void Flush(std::size_t segment = kWhole);
    // Asks the client for a new handshake (a HelloRequest; TLS 1.2 only).
    void RequestRenegotiation();
    // Sends this side's close_notify.
    void SendCloseNotify();
    // Reads until the stream ends, sending any alert of this side's own, and tells how:
    // "close_notify" when the other side closed the session cleanly, else the reason.
    std::string AwaitEnd();

    // Ends this side's sending direction: the other side reads the end of the stream while
    // its replies can still arrive.
    void HalfClose();
    // Closes the connection in an orderly way, or with a reset.
    void Close();
    void Reset();

private:
    // Appends what arrives (decrypted once encrypted) to the kept bytes; false at the end of
    // the stream, whose manner end_ then names.
    bool ReceiveMore();
    bool ReceiveIntoEngine();

    sys::FileDescriptor socket_;
    SslPtr<SSL> ssl_;
    // Owned by ssl_.
    BIO* incoming_ = nullptr;
    BIO* outgoing_ = nullptr;
    bool encrypted_ = false;
    std::string kept_;
    std::string end_;
};

// A server that serves one connection of its listener on a thread of its own. Whatever it
// raises becomes the text of Failure(), which a test checks after the client is done.
class ServerThread {
public:
    explicit ServerThread(std::function<void(sys::FileDescriptor)> serve)
        : thread_([this, serve = std::move(serve)] {
              try {
                  serve(server_.Accept());
              } catch (const std::exception& error) {
                  failure_ = error.what();
              }
          }) {}
    ~ServerThread() { Join(); }

    int Port() const { return server_.Port(); }
    // Waits for the server to end and returns its failure, empty when it had none.
    std::string Failure() {
        Join();
        return failure_;
    }

private:
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    TestServer server_;
    std::string failure_;
    std::thread thread_;
};

// The text of a request to the session toolbox of the tests: the lead pair "Request", its
// "Action" and more lines ("Name=value\n" each) after it.
std::string Request(const std::string& action, const std::string& lines = "");

}  // namespace testsupport
