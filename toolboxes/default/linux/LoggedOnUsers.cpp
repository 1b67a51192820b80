#include "default/LoggedOnUsers.h"

#include <utmp.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>

namespace tbx {

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

std::vector<std::string> LoggedOnUsers(const std::string& utmpPath) {
    std::ifstream file(utmpPath, std::ios::binary);
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
