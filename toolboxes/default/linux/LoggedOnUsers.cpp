#include "default/LoggedOnUsers.h"

#include <utmp.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>

namespace tbx {
namespace {

// The utmp file this agent watches: $CORVANE_ROOT/run/utmp under a relocated root, else the
// system's.
std::string UtmpPath() {
    const char* root = std::getenv("CORVANE_ROOT");
    if (root == nullptr || *root == '\0') {
        return _PATH_UTMP;
    }
    std::string path = root;
    if (path.back() != '/') {
        path += '/';
    }
    return path + "run/utmp";
}

}  // namespace

// The file is read directly rather than through getutent, which keeps its position in one
// process-wide place and so cannot serve several threads at once.
std::vector<std::string> LoggedOnUsers() {
    std::ifstream file(UtmpPath(), std::ios::binary);
    std::set<std::string> users;
    utmp record{};
    while (file.read(reinterpret_cast<char*>(&record), sizeof record)) {
        if (record.ut_type != USER_PROCESS) {
            continue;
        }
        const char* name = record.ut_user;
        std::string user(name, std::find(name, name + sizeof record.ut_user, '\0'));
        if (!user.empty()) {
            users.insert(std::move(user));
        }
    }
    return {users.begin(), users.end()};
}

}  // namespace tbx
