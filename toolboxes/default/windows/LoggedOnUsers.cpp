#include "default/LoggedOnUsers.h"

#include <windows.h>

#include <memory>
#include <set>
#include <wtsapi32.h>

namespace tbx {
namespace {

// Memory that the terminal services hand out is theirs to free.
struct WtsMemory {
    void operator()(void* memory) const { WTSFreeMemory(memory); }
};
template <typename T>
using WtsPointer = std::unique_ptr<T, WtsMemory>;

// The user of a session; empty for a session without one (the services' session, a
// listener) or when it cannot be read.
std::string SessionUser(DWORD sessionId) {
    LPSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSUserName, &buffer,
                                     &bytes)) {
        return {};
    }
    const WtsPointer<char> name(buffer);
    return name.get();
}

}  // namespace

// A disconnected session still has its user logged on; only its display is gone.
std::vector<std::string> LoggedOnUsers() {
    PWTS_SESSION_INFOA list = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsA(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) {
        return {};
    }
    const WtsPointer<WTS_SESSION_INFOA> sessions(list);
    std::set<std::string> users;
    for (DWORD i = 0; i < count; ++i) {
        std::string user = SessionUser(sessions.get()[i].SessionId);
        if (!user.empty()) {
            users.insert(std::move(user));
        }
    }
    return {users.begin(), users.end()};
}

}  // namespace tbx
