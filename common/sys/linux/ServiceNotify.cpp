#include "common/sys/ServiceNotify.h"

#include <cerrno>
#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace sys {

bool IsStartedByServiceManager() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket != nullptr && *socket != '\0';
}

int NotifyServiceManager(const std::string& state) {
    const int sent = sd_notify(0, state.c_str());
    if (sent > 0) {
        return 0;
    }
    return sent < 0 ? -sent : ENOTCONN;
}

bool IsServiceManagerRunning() {
    return sd_booted() > 0;
}

}  // namespace sys
