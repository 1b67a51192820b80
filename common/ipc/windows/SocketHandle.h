#pragma once

#include <utility>
#include <winsock2.h>

namespace ipc {

// Owns one Winsock socket and closes it when it goes.
class SocketHandle {
public:
    SocketHandle() = default;
    explicit SocketHandle(SOCKET socket) noexcept : socket_(socket) {}
    SocketHandle(SocketHandle&& other) noexcept : socket_(other.Release()) {}
    SocketHandle& operator=(SocketHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    ~SocketHandle() { Reset(); }

    SOCKET Get() const noexcept { return socket_; }
    explicit operator bool() const noexcept { return socket_ != INVALID_SOCKET; }
    // Gives up ownership without closing.
    SOCKET Release() noexcept { return std::exchange(socket_, INVALID_SOCKET); }
    // Closes the socket held and takes socket instead.
    void Reset(SOCKET socket = INVALID_SOCKET) noexcept {
        if (socket_ != INVALID_SOCKET && socket_ != socket) {
            ::closesocket(socket_);
        }
        socket_ = socket;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace ipc
