#include "tests/support/TestPeer.h"

#include <stdexcept>

namespace testsupport {

void PlainPeer::SendRaw(const std::string& bytes, std::size_t segment) {
    SendAll(socket_.Get(), bytes, segment);
}

std::string PlainPeer::Next() {
    std::optional<std::string> text = NextOrEnd();
    if (!text) {
        throw std::runtime_error("test peer: the other side closed the connection");
    }
    return *text;
}

std::optional<std::string> PlainPeer::NextOrEnd() {
    for (;;) {
        const std::size_t end = kept_.find('\0');
        if (end != std::string::npos) {
            std::string text = kept_.substr(0, end);
            kept_.erase(0, end + 1);
            return text;
        }
        if (!ReceiveMore()) {
            return std::nullopt;
        }
    }
}

std::string PlainPeer::Receive(std::size_t length) {
    while (kept_.size() < length) {
        if (!ReceiveMore()) {
            throw std::runtime_error("test peer: the stream ended early (" + end_ + ")");
        }
    }
    std::string data = kept_.substr(0, length);
    kept_.erase(0, length);
    return data;
}

bool PlainPeer::ReceiveMore() {
    const std::string bytes = ReceiveSome(socket_.Get(), 0x10000);
    kept_ += bytes;
    end_ = "the end of the stream";
    return !bytes.empty();
}

void PlainPeer::HalfClose() {
    testsupport::HalfClose(socket_.Get());
}

void PlainPeer::Close() {
    socket_.Reset();
}

void PlainPeer::Reset() {
    ResetConnection(socket_);
}

}  // namespace testsupport
