#include "common/sys/ServiceNotify.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "common/sys/linux/FileDescriptor.h"

// The service manager's protocol is one datagram of text to the socket that NOTIFY_SOCKET
// names, where a name beginning with "@" lies in the abstract namespace. It is spoken here
// rather than through libsystemd, whose library and the libraries it loads in turn would add
// a megabyte to the resident memory of every agent for that one datagram.
namespace sys {

bool IsStartedByServiceManager() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket != nullptr && *socket != '\0';
}

int NotifyServiceManager(const std::string& state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (name == nullptr || *name == '\0') {
        return ENOTCONN;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(name);
    if ((name[0] != '/' && name[0] != '@') || length >= sizeof address.sun_path) {
        return EAFNOSUPPORT;
    }
    std::memcpy(address.sun_path, name, length);
    if (name[0] == '@') {
        address.sun_path[0] = '\0';
    }
    const FileDescriptor socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    if (!socket || ::sendto(socket.Get(), state.data(), state.size(), MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&address), size) < 0) {
        return errno;
    }
    return 0;
}

// The service manager makes this folder when it starts as the system's first process.
bool IsServiceManagerRunning() {
    struct stat status {};
    return ::lstat("/run/systemd/system/", &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace sys
