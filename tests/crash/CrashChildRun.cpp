#include "tests/crash/CrashChildRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <regex>
#include <sstream>
#include <string_view>
#include <sys/wait.h>

#include "common/sys/FileDescriptor.h"

extern char** environ;

namespace crashtest {
namespace {

constexpr int kMaxWaitMilliseconds = 60'000;

// The environment with the sanitizers' own crash handling switched off, so that the handler
// under test is the one that runs.
std::vector<std::string> ChildEnvironment() {
    constexpr std::string_view kCrashOptions =
        "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
        "detect_leaks=0";
    std::string asanOptions = "ASAN_OPTIONS=" + std::string(kCrashOptions);
    std::string tsanOptions = "TSAN_OPTIONS=" + std::string(kCrashOptions);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.starts_with("ASAN_OPTIONS=")) {
            asanOptions = text + ":" + std::string(kCrashOptions);
        } else if (text.starts_with("TSAN_OPTIONS=")) {
            tsanOptions = text + ":" + std::string(kCrashOptions);
        } else {
            environment.push_back(text);
        }
    }
    environment.push_back(asanOptions);
    environment.push_back(tsanOptions);
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Reads the child's output until it closes it, or until the time is up.
bool ReadUntilClosed(int fd, std::string& output) {
    int waited = 0;
    while (waited < kMaxWaitMilliseconds) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, 100);
        if (ready == 0) {
            waited += 100;
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got <= 0) {
            return true;
        }
        output.append(buffer, static_cast<std::size_t>(got));
    }
    return false;
}

void ParseAnnouncements(ChildResult& result) {
    std::istringstream lines(result.output);
    std::string word;
    while (lines >> word) {
        if (word == "thread") {
            lines >> result.threadId;
        } else if (word == "address") {
            lines >> std::hex >> result.faultAddress >> std::dec;
        }
    }
}

}  // namespace

ChildResult RunCrashChild(const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return {};
    }
    sys::FileDescriptor readEnd(pipeEnds[0]);
    sys::FileDescriptor writeEnd(pipeEnds[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);

    std::vector<std::string> argv{WARDEX_CRASH_CHILD};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = ChildEnvironment();
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, WARDEX_CRASH_CHILD, &actions, nullptr,
                                      Pointers(argv).data(), Pointers(environment).data());
    ::posix_spawn_file_actions_destroy(&actions);
    writeEnd.Reset();
    ChildResult result;
    if (spawned != 0) {
        return result;
    }
    result.pid = child;
    result.finished = ReadUntilClosed(readEnd.Get(), result.output);
    if (!result.finished) {
        ::kill(child, SIGKILL);
    }
    ::waitpid(child, &result.status, 0);
    ParseAnnouncements(result);
    return result;
}

std::string RunCommand(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
    std::string output;
    std::array<char, 4096> buffer;
    while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
        output += buffer.data();
    }
    return output;
}

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    return files;
}

bool IsDumpName(const std::filesystem::path& file) {
    static const std::regex kGuidDump(
        "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\.dmp");
    return std::regex_match(file.filename().string(), kGuidDump);
}

}  // namespace crashtest
