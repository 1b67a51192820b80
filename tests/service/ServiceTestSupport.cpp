#include "tests/service/ServiceTestSupport.h"

#include <poll.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

namespace servicetest {

namespace {

using Clock = std::chrono::steady_clock;

void CopyField(char* field, std::size_t size, const std::string& text) {
    std::strncpy(field, text.c_str(), size);
}

}  // namespace

NotifyListener::NotifyListener(std::string path)
    : path_(std::move(path)), socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    CopyField(address.sun_path, sizeof address.sun_path - 1, path_);
    if (!socket_ ||
        ::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind the notify socket " + path_);
    }
}

std::string NotifyListener::Next(int waitMs) {
    pollfd wait{socket_.Get(), POLLIN, 0};
    if (::poll(&wait, 1, waitMs) != 1) {
        return "";
    }
    char buffer[4096];
    const ssize_t size = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
    return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : "";
}

bool WaitForLog(const programtest::AgentWorld& world, const std::string& text, std::size_t count,
                int waitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (world.LogCount(text) < count) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace servicetest
