#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/sys/linux/FileDescriptor.h"
#include "tools/qxsim/Certificates.h"
#include "tools/qxsim/Framer.h"
#include "tools/qxsim/Options.h"
#include "tools/qxsim/Printer.h"
#include "tools/qxsim/Script.h"
#include "tools/qxsim/WakePipe.h"

namespace qxsim {

// What every connection shares, read-only while the server runs.
struct SessionSetup {
    const std::vector<Step>& script;
    SessionMode session;
    const TlsContext& tls;
    Printer& printer;
};

// One agent's connection, served on a thread of its own: prints what arrives, answers the
// session request (and switches to TLS), runs the script, then keeps printing until the
// agent goes. Every byte of the connection moves on that thread; the keyboard hands its
// messages over with Post.
class Connection {
public:
    // onEnd runs on the connection's thread when it has ended; it must only wake the server.
    Connection(int number, sys::FileDescriptor socket, std::string peer, const SessionSetup& setup,
               std::function<void()> onEnd);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // A send or close step from the keyboard, carried out on the connection's thread.
    void Post(Step step);
    // Asks the thread to end; the destructor waits for it.
    void Stop();
    bool Ended() const { return ended_; }
    int Number() const { return number_; }
    const std::string& Peer() const { return peer_; }

private:
    enum class Wait { kReady, kWoken, kTimedOut };
    using Clock = std::chrono::steady_clock;

    void Run();
    void RunScript();
    void Expect(const Step& step);
    void Pause(int milliseconds);
    // The next message text, handled already; nullopt when the deadline passed first. A null
    // deadline waits for ever.
    std::optional<std::string> NextMessage(std::optional<Clock::time_point> deadline);
    std::string Handle(const std::string& text);
    void Send(const std::string& text);
    void WriteAll(const std::string& bytes);
    void Receive();
    void StartTls();
    void TakeMail();
    Wait WaitFor(short events, std::optional<Clock::time_point> deadline);
    void Close();

    const int number_;
    sys::FileDescriptor socket_;
    const std::string peer_;
    const SessionSetup& setup_;
    std::function<void()> onEnd_;
    WakePipe wake_;
    OpenSslPtr<SSL> ssl_;
    Framer framer_;
    std::deque<std::string> unmatched_;  // lead lines of messages no expect has matched yet
    std::mutex lock_;
    std::deque<Step> mail_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

}  // namespace qxsim
