#include "common/sys/linux/ServiceEvents.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>

#include "common/util/StringUtils.h"

namespace sys {

namespace {

constexpr std::uint32_t kUtmpEvents =
    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;

ServiceEvent Problem(std::string text) {
    return {ServiceEvent::Kind::Problem, 0, std::move(text)};
}

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

ServiceEvents::ServiceEvents(const std::string& utmpPath) : sessions_(utmpPath) {
    const sigset_t stopSignals = StopSignalSet();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signals_.Reset(signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signals_) {
        startProblems_.push_back(
            Problem(util::Format("stop signals cannot be received: %s", std::strerror(errno))));
    }
    wake_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_) {
        startProblems_.push_back(
            Problem(util::Format("the service's end cannot be awaited: %s", std::strerror(errno))));
    }
    const std::filesystem::path path(utmpPath);
    utmpName_ = path.filename().string();
    watch_.Reset(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!watch_ || inotify_add_watch(watch_.Get(), path.parent_path().c_str(), kUtmpEvents) < 0) {
        startProblems_.push_back(
            Problem(util::Format("logons and logoffs cannot be seen, %s is not watched: %s",
                                 utmpPath.c_str(), std::strerror(errno))));
        watch_.Reset();
    }
}

std::vector<ServiceEvent> ServiceEvents::Wait() {
    std::vector<ServiceEvent> events = std::move(startProblems_);
    startProblems_.clear();
    bool woken = false;
    while (events.empty() && !woken) {
        std::array<pollfd, 3> waits{pollfd{signals_.Get(), POLLIN, 0},
                                    pollfd{watch_.Get(), POLLIN, 0},
                                    pollfd{wake_.Get(), POLLIN, 0}};
        if (::poll(waits.data(), waits.size(), -1) < 0 && errno != EINTR) {
            events.push_back(Problem(util::Format("poll failed: %s", std::strerror(errno))));
            return events;
        }
        TakeSignals(events);
        TakeUtmpChanges(events);
        std::uint64_t count = 0;
        woken = wake_ && ::read(wake_.Get(), &count, sizeof count) == sizeof count;
    }
    return events;
}

void ServiceEvents::Wake() {
    const std::uint64_t one = 1;
    // A write fails only on a counter already far from zero, which wakes the wait anyway.
    [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
}

void ServiceEvents::TakeSignals(std::vector<ServiceEvent>& events) {
    signalfd_siginfo info;
    while (signals_ && ::read(signals_.Get(), &info, sizeof info) == sizeof info) {
        events.push_back({ServiceEvent::Kind::Stop, static_cast<int>(info.ssi_signo), {}});
    }
}

void ServiceEvents::TakeUtmpChanges(std::vector<ServiceEvent>& events) {
    if (!UtmpEventsPending()) {
        return;
    }
    std::string problem;
    const std::vector<SessionChange> changes = sessions_.Reread(problem);
    if (!problem.empty()) {
        events.push_back(Problem(problem));
    }
    for (const SessionChange& change : changes) {
        events.push_back({change.logon ? ServiceEvent::Kind::Logon : ServiceEvent::Kind::Logoff, 0,
                          change.user + " on " + change.line});
    }
    if (changes.empty()) {
        events.push_back({ServiceEvent::Kind::OtherChange, 0, sessions_.Path()});
    }
}

// Drains the watch; true when one of its events concerns the utmp file.
bool ServiceEvents::UtmpEventsPending() {
    bool concerned = false;
    alignas(inotify_event) std::array<char, 4096> buffer;
    ssize_t size = 0;
    while (watch_ && (size = ::read(watch_.Get(), buffer.data(), buffer.size())) > 0) {
        for (ssize_t at = 0; at < size;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            if (event->len > 0 && utmpName_ == event->name) {
                concerned = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return concerned;
}

}  // namespace sys
