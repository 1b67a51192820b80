#include "tools/qxsim/Connection.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdexcept>
#include <sys/socket.h>

#include "common/msg/QXMessage.h"

namespace qxsim {
namespace {

constexpr auto kHandshakeTime = std::chrono::seconds(10);
constexpr auto kWriteTime = std::chrono::seconds(10);
constexpr std::size_t kUnmatchedKept = 1000;

// Ends a session; what() says why, for the "disconnected" line.
class SessionEnd : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string OpenSslReason() {
    char reason[256] = "no reason given";
    if (const unsigned long code = ERR_get_error()) {
        ERR_error_string_n(code, reason, sizeof reason);
    }
    ERR_clear_error();
    return reason;
}

std::string LeadLine(const msg::CQXMessage& message) {
    return std::string(message.GetLeadName()) + "=" + message.GetLeadValue();
}

}  // namespace

Connection::Connection(int number, sys::FileDescriptor socket, std::string peer,
                       const SessionSetup& setup, std::function<void()> onEnd)
    : number_(number),
      socket_(std::move(socket)),
      peer_(std::move(peer)),
      setup_(setup),
      onEnd_(std::move(onEnd)) {
    thread_ = std::thread([this] { Run(); });
}

Connection::~Connection() {
    Stop();
    thread_.join();
}

void Connection::Post(Step step) {
    {
        std::lock_guard guard(lock_);
        mail_.push_back(std::move(step));
    }
    wake_.Wake();
}

void Connection::Stop() {
    stop_ = true;
    wake_.Wake();
}

void Connection::Run() {
    setup_.printer.Line(number_, "connected from " + peer_);
    std::string reason;
    try {
        RunScript();
        while (NextMessage(std::nullopt)) {
        }
    } catch (const std::exception& end) {
        reason = end.what();
    }
    Close();
    setup_.printer.Line(number_, "disconnected: " + reason);
    ended_ = true;
    onEnd_();
}

void Connection::Close() {
    if (ssl_) {
        SSL_shutdown(ssl_.get());  // a close_notify if the socket takes it; no waiting
        ssl_.reset();
    }
    socket_.Reset();
}

void Connection::RunScript() {
    for (const Step& step : setup_.script) {
        switch (step.kind) {
            case Step::Kind::kSend:
                Send(step.text);
                break;
            case Step::Kind::kExpect:
                Expect(step);
                break;
            case Step::Kind::kSleep:
                Pause(step.number);
                break;
            case Step::Kind::kNote:
                setup_.printer.Line(number_, "note: " + step.text);
                break;
            case Step::Kind::kClose:
                throw SessionEnd("the script closed the connection");
            default:
                break;  // the keyboard's commands do not occur in a script file
        }
    }
}

// A message that arrived while an earlier step waited counts too, so that a script need not
// know in which order the agent's own messages and its replies come.
void Connection::Expect(const Step& step) {
    for (auto it = unmatched_.begin(); it != unmatched_.end(); ++it) {
        if (*it == step.text) {
            unmatched_.erase(it);
            return;
        }
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(step.number);
    while (std::optional<std::string> lead = NextMessage(deadline)) {
        if (*lead == step.text) {
            unmatched_.pop_back();
            return;
        }
    }
    setup_.printer.Line(number_, "expect " + step.text + ": nothing came within " +
                                     std::to_string(step.number) + " ms; going on");
}

void Connection::Pause(int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (NextMessage(deadline)) {
    }
}

std::optional<std::string> Connection::NextMessage(std::optional<Clock::time_point> deadline) {
    for (;;) {
        TakeMail();
        if (std::optional<std::string> text = framer_.Next()) {
            return Handle(*text);
        }
        if (ssl_ && SSL_pending(ssl_.get()) > 0) {
            Receive();
            continue;
        }
        switch (WaitFor(POLLIN, deadline)) {
            case Wait::kReady:
                Receive();
                break;
            case Wait::kWoken:
                break;
            case Wait::kTimedOut:
                return std::nullopt;
        }
    }
}

// Prints the message and answers a session request; returns its lead line.
std::string Connection::Handle(const std::string& text) {
    setup_.printer.Message(number_, true, text);
    msg::CQXMessage message;
    message.Assign(text);
    const std::string lead = LeadLine(message);
    unmatched_.push_back(lead);
    if (unmatched_.size() > kUnmatchedKept) {
        unmatched_.pop_front();
    }
    if (lead != "Request=CreateSession" || setup_.session == SessionMode::kIgnore) {
        return lead;
    }
    const bool accept = setup_.session == SessionMode::kAccept;
    Send(std::string("Reply=CreateSession\nResult=") + (accept ? "Success" : "Refused") + "\n");
    if (accept) {
        StartTls();
    }
    return lead;
}

void Connection::Send(const std::string& text) {
    msg::CQXMessage message;
    message.Assign(text);
    std::string wire = message.GetText();
    setup_.printer.Message(number_, false, wire);
    wire.push_back('\0');
    WriteAll(wire);
}

void Connection::WriteAll(const std::string& bytes) {
    const Clock::time_point deadline = Clock::now() + kWriteTime;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const char* data = bytes.data() + sent;
        const std::size_t size = bytes.size() - sent;
        short waitFor = POLLOUT;
        if (ssl_) {
            const int written = SSL_write(ssl_.get(), data, static_cast<int>(size));
            if (written > 0) {
                sent += static_cast<std::size_t>(written);
                continue;
            }
            const int error = SSL_get_error(ssl_.get(), written);
            if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) {
                throw SessionEnd("cannot send over TLS: " + OpenSslReason());
            }
            waitFor = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        } else {
            const ssize_t written = ::send(socket_.Get(), data, size, MSG_NOSIGNAL);
            if (written > 0) {
                sent += static_cast<std::size_t>(written);
                continue;
            }
            if (errno != EAGAIN && errno != EINTR) {
                throw SessionEnd(std::string("cannot send: ") + std::strerror(errno));
            }
        }
        if (WaitFor(waitFor, deadline) == Wait::kTimedOut) {
            throw SessionEnd("the agent took no data for 10 s");
        }
        if (stop_) {
            throw SessionEnd("the simulator stops");
        }
    }
}

void Connection::Receive() {
    char buffer[16384];
    if (ssl_) {
        const int count = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (count > 0) {
            framer_.Add(buffer, static_cast<std::size_t>(count));
            return;
        }
        const int error = SSL_get_error(ssl_.get(), count);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            return;
        }
        if (error != SSL_ERROR_ZERO_RETURN) {
            throw SessionEnd("TLS error: " + OpenSslReason());
        }
    } else {
        const ssize_t count = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
        if (count > 0) {
            framer_.Add(buffer, static_cast<std::size_t>(count));
            return;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        if (count < 0) {
            throw SessionEnd(std::string("cannot receive: ") + std::strerror(errno));
        }
    }
    if (framer_.Unfinished() > 0) {
        throw SessionEnd("the agent closed the connection in the middle of a message (" +
                         std::to_string(framer_.Unfinished()) + " bytes lost)");
    }
    throw SessionEnd("the agent closed the connection");
}

// The agent starts its handshake as soon as it has read the successful reply, so nothing
// plain can follow it on the connection.
void Connection::StartTls() {
    ssl_.reset(SSL_new(setup_.tls.Get()));
    if (!ssl_ || SSL_set_fd(ssl_.get(), socket_.Get()) != 1) {
        throw SessionEnd("cannot start TLS: " + OpenSslReason());
    }
    const Clock::time_point deadline = Clock::now() + kHandshakeTime;
    for (;;) {
        const int result = SSL_accept(ssl_.get());
        if (result == 1) {
            break;
        }
        const int error = SSL_get_error(ssl_.get(), result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            throw SessionEnd("TLS handshake failed: " + OpenSslReason());
        }
        const short events = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        if (WaitFor(events, deadline) == Wait::kTimedOut) {
            throw SessionEnd("the agent did not finish the TLS handshake within 10 s");
        }
        if (stop_) {
            throw SessionEnd("the simulator stops");
        }
    }
    setup_.printer.Line(number_, std::string("TLS on (") + SSL_get_version(ssl_.get()) + ", " +
                                     SSL_get_cipher_name(ssl_.get()) + ")");
}

void Connection::TakeMail() {
    if (stop_) {
        throw SessionEnd("the simulator stops");
    }
    std::deque<Step> mail;
    {
        std::lock_guard guard(lock_);
        mail.swap(mail_);
    }
    for (const Step& step : mail) {
        if (step.kind == Step::Kind::kClose) {
            throw SessionEnd("closed from the keyboard");
        }
        Send(step.text);
    }
}

Connection::Wait Connection::WaitFor(short events, std::optional<Clock::time_point> deadline) {
    int timeout = -1;
    if (deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
        if (left.count() <= 0) {
            return Wait::kTimedOut;
        }
        timeout = static_cast<int>(left.count());
    }
    pollfd watched[2] = {{socket_.Get(), events, 0}, {wake_.ReadEnd(), POLLIN, 0}};
    const int ready = ::poll(watched, 2, timeout);
    if (ready == 0) {
        return Wait::kTimedOut;
    }
    if (ready < 0 || watched[1].revents != 0) {
        wake_.Drain();
        return Wait::kWoken;
    }
    return Wait::kReady;
}

}  // namespace qxsim
