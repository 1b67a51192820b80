#pragma once

#include <string>
#include <vector>

#include "common/sys/linux/FileDescriptor.h"
#include "common/sys/linux/UtmpSessions.h"

namespace sys {

// What the service's control thread is told: a stop signal, a logon or logoff, a utmp
// change that is neither, or a problem worth a log line.
struct ServiceEvent {
    enum class Kind { Stop, Logon, Logoff, OtherChange, Problem };
    Kind kind = Kind::Problem;
    // The signal for Stop; the user and line for Logon and Logoff; the text of a Problem.
    int signal = 0;
    std::string text;
};

// The service's outside events, for the one thread that waits on them. Construction blocks
// SIGTERM and SIGINT in the calling thread, so it must come before any other thread is
// started: every thread inherits the mask and the signals then reach only this object,
// never a signal handler. They stay blocked for the rest of the process, so that a late
// signal cannot end it before it has returned from main.
class ServiceEvents {
public:
    explicit ServiceEvents(const std::string& utmpPath);
    ServiceEvents(const ServiceEvents&) = delete;
    ServiceEvents& operator=(const ServiceEvents&) = delete;

    // Waits for the next events: pending stop signals first, then the utmp changes. Returns
    // with none after a Wake.
    std::vector<ServiceEvent> Wait();
    // Ends the current or the next Wait. Safe from any thread.
    void Wake();

private:
    void TakeSignals(std::vector<ServiceEvent>& events);
    void TakeUtmpChanges(std::vector<ServiceEvent>& events);
    bool UtmpEventsPending();

    FileDescriptor signals_;
    FileDescriptor watch_;
    FileDescriptor wake_;
    UtmpSessions sessions_;
    std::string utmpName_;
    std::vector<ServiceEvent> startProblems_;
};

}  // namespace sys
