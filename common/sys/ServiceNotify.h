#pragma once

#include <string>

namespace sys {

// True when the service manager started this process and listens for its status reports
// (NOTIFY_SOCKET is set).
bool IsStartedByServiceManager();

// Sends one status report ("READY=1\nSTATUS=...") to the service manager. Returns 0, or the
// system error when the report could not be delivered (no listener counts as one).
int NotifyServiceManager(const std::string& state);

// True when the system runs under systemd; the service manager's tool is of no use otherwise.
bool IsServiceManagerRunning();

}  // namespace sys
