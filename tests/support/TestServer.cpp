#include "tests/support/TestServer.h"

#include <stdexcept>

namespace testsupport {

void SendAll(int socket, const std::string& data) {
    SendAll(socket, data.data(), data.size());
}

std::string ReceiveExactly(int socket, std::size_t length) {
    std::string data;
    while (data.size() < length) {
        const std::string piece = ReceiveSome(socket, length - data.size());
        if (piece.empty()) {
            throw std::runtime_error("test peer: the other side closed early");
        }
        data += piece;
    }
    return data;
}

std::string Request(const std::string& action, const std::string& lines) {
    return "Request=Work\nAction=" + action + "\n" + lines;
}

}  // namespace testsupport
