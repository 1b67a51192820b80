#include "tests/tools/AgentClient.h"

#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>

namespace simtest {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    char reason[256] = "";
    ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
    throw std::runtime_error(what + " " + reason);
}

}  // namespace

AgentClient::AgentClient(int port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{10, 0};
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(socket_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
}

AgentClient::~AgentClient() {
    Close();
}

void AgentClient::Close() {
    SSL_free(ssl_);
    ssl_ = nullptr;
    SSL_CTX_free(context_);
    context_ = nullptr;
    socket_.Reset();
}

void AgentClient::Send(const std::string& text) {
    SendRaw(text + std::string(1, '\0'));
}

void AgentClient::SendRaw(const std::string& bytes) {
    const int sent =
        ssl_ != nullptr
            ? SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()))
            : static_cast<int>(::send(socket_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL));
    if (sent != static_cast<int>(bytes.size())) {
        Fail("cannot send");
    }
}

std::size_t AgentClient::ReadMore() {
    char buffer[4096];
    const int count = ssl_ != nullptr
                          ? SSL_read(ssl_, buffer, sizeof buffer)
                          : static_cast<int>(::recv(socket_.Get(), buffer, sizeof buffer, 0));
    if (count < 0 ||
        (count == 0 && ssl_ != nullptr && SSL_get_error(ssl_, count) != SSL_ERROR_ZERO_RETURN)) {
        Fail("nothing arrived within 10 s, or the read failed:");
    }
    pending_.append(buffer, static_cast<std::size_t>(count));
    return static_cast<std::size_t>(count);
}

std::string AgentClient::Receive() {
    for (;;) {
        if (const std::size_t end = pending_.find('\0'); end != std::string::npos) {
            std::string text = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return text;
        }
        if (ReadMore() == 0) {
            throw std::runtime_error("the server closed the connection");
        }
    }
}

bool AgentClient::ClosedByServer() {
    while (pending_.find('\0') == std::string::npos) {
        if (ReadMore() == 0) {
            return true;
        }
    }
    return false;
}

void AgentClient::StartTls(const std::string& caFile) {
    context_ = SSL_CTX_new(TLS_client_method());
    if (context_ == nullptr ||
        SSL_CTX_load_verify_locations(context_, caFile.c_str(), nullptr) != 1) {
        Fail("cannot trust " + caFile + ":");
    }
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF);
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, socket_.Get());
    if (SSL_connect(ssl_) != 1) {
        Fail("TLS handshake failed:");
    }
}

}  // namespace simtest
