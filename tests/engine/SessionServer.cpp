#include "tests/engine/SessionServer.h"

#include <cerrno>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>

#include "tests/ipc/LoopbackServer.h"

namespace enginetest {
namespace {

constexpr std::size_t kChunk = 65536;

void SetReceiveWait(int socket, int waitMs) {
    const timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

}  // namespace

SessionServer::SessionServer(sys::FileDescriptor socket, int waitMs) : socket_(std::move(socket)) {
    SetReceiveWait(socket_.Get(), waitMs);
}

void SessionServer::Send(const std::string& text) {
    const std::string bytes = text + '\0';
    if (!ssl_) {
        SendRaw(bytes);
        return;
    }
    if (SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size())) <= 0) {
        throw std::runtime_error("test server: TLS write failed");
    }
}

void SessionServer::SendRaw(const std::string& bytes, std::size_t segment) {
    testipc::SendAll(socket_.Get(), bytes.data(), bytes.size(), segment);
}

std::string SessionServer::Next() {
    std::optional<std::string> text = NextOrEnd();
    if (!text) {
        throw std::runtime_error("test server: the agent closed the connection");
    }
    return *text;
}

std::optional<std::string> SessionServer::NextOrEnd() {
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

bool SessionServer::ReceiveMore() {
    char chunk[kChunk];
    if (ssl_) {
        ERR_clear_error();
        const int count = SSL_read(ssl_.get(), chunk, sizeof chunk);
        if (count > 0) {
            kept_.append(chunk, static_cast<std::size_t>(count));
            return true;
        }
        if (SSL_get_error(ssl_.get(), count) == SSL_ERROR_ZERO_RETURN) {
            return false;
        }
        throw std::runtime_error("test server: TLS read failed or timed out");
    }
    const ssize_t count = ::recv(socket_.Get(), chunk, sizeof chunk, 0);
    if (count > 0) {
        kept_.append(chunk, static_cast<std::size_t>(count));
        return true;
    }
    if (count == 0) {
        return false;
    }
    throw std::runtime_error(std::string("test server: receive failed: ") + std::strerror(errno));
}

void SessionServer::StartTls(const testipc::SslPtr<SSL_CTX>& context) {
    if (!kept_.empty()) {
        throw std::runtime_error("test server: plain bytes left when TLS starts");
    }
    testipc::SslPtr<SSL> ssl(SSL_new(context.get()));
    if (!ssl || SSL_set_fd(ssl.get(), socket_.Get()) != 1) {
        throw std::runtime_error("test server: cannot make a TLS session");
    }
    // The agent ends a session by closing its socket, without a TLS close alert.
    SSL_set_options(ssl.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    ERR_clear_error();
    if (SSL_accept(ssl.get()) != 1) {
        throw std::runtime_error("test server: TLS handshake failed");
    }
    ssl_ = std::move(ssl);
}

void SessionServer::HalfClose() {
    ::shutdown(socket_.Get(), SHUT_WR);
}

void SessionServer::Close() {
    ssl_.reset();
    socket_.Reset();
}

void SessionServer::Reset() {
    ssl_.reset();
    testipc::ResetConnection(socket_);
}

std::string Request(const std::string& action, const std::string& lines) {
    return "Request=Work\nAction=" + action + "\n" + lines;
}

}  // namespace enginetest
