#include "tests/service/ServiceTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace servicetest {

namespace {

using Clock = std::chrono::steady_clock;

std::string CopiedProgram(const programtest::AgentWorld& world) {
    const std::string program = world.ProgramFolder() + "/wardex";
    if (!std::filesystem::exists(program)) {
        std::filesystem::copy_file(WARDEX_PROGRAM, program);
    }
    return program;
}

int Spawn(const programtest::AgentWorld& world, const std::vector<std::string>& environment,
          const std::vector<std::string>& arguments) {
    const std::string program = CopiedProgram(world);
    const std::string output = world.Scratch() / "output.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, "NOTIFY_SOCKET=", 14) != 0) {
            variables.emplace_back(*variable);
        }
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    return child;
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void CopyField(char* field, std::size_t size, const std::string& text) {
    std::strncpy(field, text.c_str(), size);
}

}  // namespace

NotifyListener::NotifyListener(std::string path)
    : path_(std::move(path)), socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    CopyField(address.sun_path, sizeof address.sun_path - 1, path_);
    if (!socket_ ||
        ::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind the notify socket " + path_);
    }
}

std::string NotifyListener::Next(int waitMs) {
    pollfd wait{socket_.Get(), POLLIN, 0};
    if (::poll(&wait, 1, waitMs) != 1) {
        return "";
    }
    char buffer[4096];
    const ssize_t size = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
    return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : "";
}

ServiceProcess::ServiceProcess(const programtest::AgentWorld& world,
                               const std::string& notifySocket,
                               const std::vector<std::string>& arguments)
    : pid_(Spawn(world, {"NOTIFY_SOCKET=" + notifySocket}, arguments)) {}

ServiceProcess::~ServiceProcess() {
    WaitForExit(0);
}

void ServiceProcess::Signal(int signal) const {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

int ServiceProcess::WaitForExit(int waitMs) {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return ExitCodeOf(status);
}

int RunCommand(const programtest::AgentWorld& world, const std::vector<std::string>& arguments) {
    const pid_t child = Spawn(world, {}, arguments);
    int status = 0;
    ::waitpid(child, &status, 0);
    return ExitCodeOf(status);
}

bool WaitForLog(const programtest::AgentWorld& world, const std::string& text, std::size_t count,
                int waitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (world.LogCount(text) < count) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void WriteUtmp(const std::string& path, const std::vector<UtmpRecord>& records, std::size_t cut) {
    std::string bytes;
    for (const UtmpRecord& record : records) {
        utmp entry{};
        entry.ut_type = record.type;
        entry.ut_pid = record.pid;
        CopyField(entry.ut_user, sizeof entry.ut_user, record.user);
        CopyField(entry.ut_line, sizeof entry.ut_line, record.line);
        CopyField(entry.ut_id, sizeof entry.ut_id, record.line.substr(record.line.size() - 1));
        bytes.append(reinterpret_cast<const char*>(&entry), sizeof entry);
    }
    scratch::WriteFile(path, bytes.substr(0, std::min(cut, bytes.size())));
}

}  // namespace servicetest
