#pragma once

#include <string>
#include <vector>

#include "common/sys/FileDescriptor.h"
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

// The program started as the service manager starts it: from the world's program folder,
// with NOTIFY_SOCKET set to the listener's path.
class ServiceProcess : public testsupport::ChildProcess {
public:
    ServiceProcess(const programtest::AgentWorld& world, const std::string& notifySocket,
                   const std::vector<std::string>& arguments)
        : ChildProcess(world.ProgramLine(WARDEX_PROGRAM, arguments),
                       {"NOTIFY_SOCKET=" + notifySocket}) {}
};

// Runs the program to its end as a command line user would, outside any service manager;
// gives the exit code, or -1 when it did not end in time.
int RunCommand(const programtest::AgentWorld& world, const std::vector<std::string>& arguments);

// Waits until the log holds the text at least count times; false when it did not within
// the wait.
bool WaitForLog(const programtest::AgentWorld& world, const std::string& text,
                std::size_t count = 1, int waitMs = 10000);

}  // namespace servicetest
