#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

namespace testsupport {
namespace {

struct Pipe {
    sys::FileDescriptor read;
    sys::FileDescriptor write;
};

Pipe MakePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    return {sys::FileDescriptor(ends[0]), sys::FileDescriptor(ends[1])};
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

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
    Pipe in = MakePipe();
    Pipe out = MakePipe();
    Pipe err = MakePipe();
    std::vector<std::string> words = UnderEnv(arguments, environment);
    const std::vector<char*> argv = Pointers(words);
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        ::dup2(in.read.Get(), STDIN_FILENO);
        ::dup2(out.write.Get(), STDOUT_FILENO);
        ::dup2(err.write.Get(), STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    input_ = std::move(in.write);
    outputPipe_ = std::move(out.read);
    errorPipe_ = std::move(err.read);
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

bool ChildProcess::Pump(std::chrono::steady_clock::time_point deadline) {
    pollfd streams[2] = {{outputPipe_.Get(), POLLIN, 0}, {errorPipe_.Get(), POLLIN, 0}};
    if (!outputPipe_ && !errorPipe_) {
        return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (::poll(streams, 2, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
        return true;
    }
    char buffer[4096];
    sys::FileDescriptor* pipes[2] = {&outputPipe_, &errorPipe_};
    std::string* texts[2] = {&output_, &errors_};
    for (int i = 0; i < 2; ++i) {
        if (streams[i].revents == 0) {
            continue;
        }
        const ssize_t count = ::read(pipes[i]->Get(), buffer, sizeof buffer);
        if (count <= 0) {
            pipes[i]->Reset();
        } else {
            texts[i]->append(buffer, static_cast<std::size_t>(count));
        }
    }
    return true;
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& text,
                                                     std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (std::size_t end; (end = output_.find('\n', scanned_)) != std::string::npos;) {
            const std::string line = output_.substr(scanned_, end - scanned_);
            scanned_ = end + 1;
            if (line.find(text) != std::string::npos) {
                return line;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline || !Pump(deadline)) {
            return std::nullopt;
        }
    }
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
    if (exitCode_) {
        return exitCode_;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline && Pump(deadline)) {
    }
    for (;;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            endingSignal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + endingSignal_;
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace testsupport
