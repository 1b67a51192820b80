#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/sys/linux/FileDescriptor.h"
#include "tools/qxsim/Connection.h"
#include "tools/qxsim/Options.h"
#include "tools/qxsim/Printer.h"
#include "tools/qxsim/Script.h"
#include "tools/qxsim/WakePipe.h"

namespace qxsim {

// The listening side: accepts agents, each onto a Connection of its own, reads the keyboard
// and ends on SIGINT or SIGTERM (taken from a signalfd, so no work runs in a signal handler),
// on "quit", or after --exit-after agents. Every wait is one poll on the main thread.
class Server {
public:
    // signals: a signalfd for SIGINT and SIGTERM, which the caller has blocked in every
    // thread. Throws std::runtime_error when it cannot listen.
    Server(const Options& options, const SessionSetup& setup, sys::FileDescriptor signals);
    ~Server();

    // Serves until the end; returns the exit code.
    int Run();

private:
    void Accept();
    void Reap();
    void ReadKeyboard();
    void Obey(const Step& step);
    void Deliver(const Step& step);

    const Options& options_;
    const SessionSetup& setup_;
    sys::FileDescriptor signals_;
    sys::FileDescriptor listener_;
    WakePipe ended_;  // woken by a connection that has ended
    std::vector<std::unique_ptr<Connection>> connections_;
    ScriptReader keyboard_{"stdin", true};
    std::string typed_;
    bool keyboardOpen_;
    int target_ = 0;  // 0: every agent
    int accepted_ = 0;
    int finished_ = 0;
    bool stopping_ = false;
};

}  // namespace qxsim
