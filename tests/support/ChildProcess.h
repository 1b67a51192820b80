#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "common/sys/linux/FileDescriptor.h"

namespace testsupport {

// A program run as a child, its standard input on a pipe that stays open, its standard output
// and error in files in memory, which never fill up. The child is killed when the object
// goes, should it still run. Every wait is bounded.
class ChildProcess {
public:
    // Runs arguments[0] with the test's own environment, changed by the entries given:
    // "NAME=value" sets a variable, a bare "NAME" removes it.
    explicit ChildProcess(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Signal(int signal);

    // Reads standard output until a line holding text arrives; that line, or nullopt when the
    // time ran out or the output ended first.
    std::optional<std::string> WaitForLine(const std::string& text,
                                           std::chrono::milliseconds limit = kLimit);
    // Waits for the child to end; its exit code (128 + the signal when a signal ended it), or
    // nullopt when it was still running at the limit.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit = kLimit);
    pid_t Pid() const { return pid_; }
    // All of standard output and standard error written so far.
    std::string Output() const;
    std::string Errors() const;

    // Generous, as the machine may be busy: only a failing test waits this long.
    static constexpr std::chrono::milliseconds kLimit{20000};

private:
    pid_t pid_ = -1;
    sys::FileDescriptor input_;
    sys::FileDescriptor output_;
    sys::FileDescriptor errors_;
    std::size_t scanned_ = 0;  // the output up to here holds no wanted line
    std::optional<int> exitCode_;
};

}  // namespace testsupport
