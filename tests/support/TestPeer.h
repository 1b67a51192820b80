#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "tests/support/TestServer.h"

// The test's side of a connection as messages: their text and one zero byte.
namespace testsupport {

// One connection, on either side: accepted by a TestServer, or connected to a server under
// test, in plain text.
class PlainPeer {
public:
    explicit PlainPeer(PeerSocket socket) : socket_(std::move(socket)) {}
    PlainPeer(PlainPeer&&) = default;
    PlainPeer& operator=(PlainPeer&&) = default;
    virtual ~PlainPeer() = default;

    int Socket() const { return socket_.Get(); }

    // One message: the text and a zero byte.
    void Send(const std::string& text) { Transmit(text + '\0'); }
    // Bytes as they are, on the socket, at most segment bytes per send.
    void SendRaw(const std::string& bytes, std::size_t segment = kWhole);
    // The next message's text; raises when none comes within the wait or the stream ends.
    std::string Next();
    // As Next, but null when the stream ends in an orderly way first.
    std::optional<std::string> NextOrEnd();
    // Exactly length bytes of data; raises when the stream ends first.
    std::string Receive(std::size_t length);

    // Ends this side's sending direction: the other side reads the end of the stream while
    // its replies can still arrive.
    void HalfClose();
    // Closes the connection in an orderly way, or with a reset.
    void Close();
    void Reset();

protected:
    // Sends a message's bytes as the connection carries them.
    virtual void Transmit(const std::string& bytes) { SendRaw(bytes); }
    // Appends what arrives to kept_; false at the end of the stream, whose manner end_ then
    // names.
    virtual bool ReceiveMore();

    PeerSocket socket_;
    std::string kept_;
    std::string end_;
};

}  // namespace testsupport

// Peer, as each system has it: on Linux it can switch to TLS, on Windows it is the plain one.
#include "PeerPlatform.h"
