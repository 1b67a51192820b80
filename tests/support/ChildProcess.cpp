#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace testsupport {
namespace {

sys::FileDescriptor MemoryFile() {
    sys::FileDescriptor file(::memfd_create("child-output", MFD_CLOEXEC));
    if (!file) {
        throw std::runtime_error("memfd_create failed");
    }
    return file;
}

// Read by position only: the child writes through the same file offset.
std::string Contents(const sys::FileDescriptor& file) {
    struct stat status {};
    ::fstat(file.Get(), &status);
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    const ssize_t count = ::pread(file.Get(), text.data(), text.size(), 0);
    text.resize(static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    return text;
}

// The command line under env(1), which applies the changes to the test's own environment.
std::vector<std::string> UnderEnv(const std::vector<std::string>& arguments,
                                  const std::vector<std::string>& changes) {
    std::vector<std::string> line{"/usr/bin/env"};
    for (const std::string& change : changes) {
        if (change.find('=') == std::string::npos) {
            line.push_back("-u");
        }
        line.push_back(change);
    }
    line.insert(line.end(), arguments.begin(), arguments.end());
    return line;
}

constexpr auto kPoll = std::chrono::milliseconds(5);

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment)
    : output_(MemoryFile()), errors_(MemoryFile()) {
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    const sys::FileDescriptor inputEnd(in[0]);
    input_ = sys::FileDescriptor(in[1]);
    std::vector<std::string> words = UnderEnv(arguments, environment);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        ::dup2(inputEnd.Get(), STDIN_FILENO);
        ::dup2(output_.Get(), STDOUT_FILENO);
        ::dup2(errors_.Get(), STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
    if (!exitCode_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

void ChildProcess::Signal(int signal) {
    if (!exitCode_) {  // a child already waited for may have handed its id on
        ::kill(pid_, signal);
    }
}

std::string ChildProcess::Output() const {
    return Contents(output_);
}

std::string ChildProcess::Errors() const {
    return Contents(errors_);
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& text,
                                                     std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (bool ended = false; !ended; std::this_thread::sleep_for(kPoll)) {
        ended = WaitForExit(std::chrono::milliseconds(0)).has_value() ||
                std::chrono::steady_clock::now() >= deadline;
        const std::string output = Output();
        for (std::size_t end; (end = output.find('\n', scanned_)) != std::string::npos;) {
            const std::string line = output.substr(scanned_, end - scanned_);
            scanned_ = end + 1;
            if (line.find(text) != std::string::npos) {
                return line;
            }
        }
    }
    return std::nullopt;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (int status = 0; !exitCode_; std::this_thread::sleep_for(kPoll)) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        } else if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
    }
    return exitCode_;
}

}  // namespace testsupport
