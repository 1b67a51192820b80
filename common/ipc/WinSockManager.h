#pragma once

// The process-wide start-up of the socket layer, done once before the first socket or name
// look-up and undone when the process ends. On Windows it starts Winsock 2.2. On Linux it
// makes a write to a connection the peer has closed fail with an error (10058) instead of
// ending the process with SIGPIPE.
class WinSockManager {
public:
    static WinSockManager& Instance();

    WinSockManager(const WinSockManager&) = delete;
    WinSockManager& operator=(const WinSockManager&) = delete;

private:
    WinSockManager();
    ~WinSockManager();

    // The platform's own steps.
    static void StartSocketLayer();
    static void StopSocketLayer();
};
