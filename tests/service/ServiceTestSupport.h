#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/sys/linux/FileDescriptor.h"
#include "tests/program/ProgramTestSupport.h"
#include "tests/support/ChildProcess.h"

// What the service tests share: the service manager's side of a service run, its notify
// socket and the process it started.
namespace servicetest {

// A datagram socket bound in a scratch folder, as systemd's notify socket is.
class NotifyListener {
public:
    explicit NotifyListener(std::string path);

    const std::string& Path() const { return path_; }
    // The next status report; empty when none came within the wait.
    std::string Next(int waitMs = 10000);

private:
    std::string path_;
    sys::FileDescriptor socket_;
};

// A world whose agent connects to the listener, with a run folder for utmp and the notify
// socket.
class ServiceWorld : public programtest::AgentWorld {
public:
    ServiceWorld() {
        std::filesystem::create_directories(RootFolder() + "/run");
        Store({{"TcpAddr", "127.0.0.1"}, {"TcpPort", listener.PortText()}});
    }
    std::string Utmp() const { return RootFolder() + "/run/utmp"; }

    testsupport::TestServer listener;
    NotifyListener notify{Scratch() / "notify"};
};

// The program started as the service manager starts it: from the world's program folder,
// with NOTIFY_SOCKET set to the listener's path and the environment entries given. A
// launcher (a command with its arguments) may run it, as prlimit does.
class ServiceProcess : public testsupport::ChildProcess {
public:
    ServiceProcess(const programtest::AgentWorld& world, const std::string& notifySocket,
                   const std::vector<std::string>& arguments,
                   std::vector<std::string> environment = {},
                   const std::vector<std::string>& launcher = {})
        : ChildProcess(Launched(launcher, world.ProgramLine(WARDEX_PROGRAM, arguments)),
                       With(std::move(environment), "NOTIFY_SOCKET=" + notifySocket)) {}

private:
    static std::vector<std::string> Launched(std::vector<std::string> launcher,
                                             const std::vector<std::string>& line) {
        launcher.insert(launcher.end(), line.begin(), line.end());
        return launcher;
    }
    static std::vector<std::string> With(std::vector<std::string> entries, std::string entry) {
        entries.push_back(std::move(entry));
        return entries;
    }
};

// Waits until the log holds the text at least count times; false when it did not within
// the wait.
bool WaitForLog(const programtest::AgentWorld& world, const std::string& text,
                std::size_t count = 1, int waitMs = 10000);

}  // namespace servicetest
