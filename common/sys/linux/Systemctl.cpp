#include "common/sys/linux/Systemctl.h"

#include <spawn.h>

#include <cerrno>
#include <sys/wait.h>

#include "common/sys/Root.h"

extern char** environ;

namespace sys {

int RunSystemctl(const std::vector<std::string>& arguments) {
    if (IsRootRelocated()) {
        return -1;
    }
    std::vector<std::string> words{"systemctl"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, "systemctl", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sys
