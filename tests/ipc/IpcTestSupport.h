#pragma once

#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "common/err/Errors.h"
#include "tests/ipc/LoopbackServer.h"

namespace testipc {

// Runs f and returns the error of kind Kind it raises; a test failure when it raises
// nothing.
template <typename Kind, typename F>
Kind RaisedBy(F&& f) {
    try {
        f();
    } catch (const Kind& error) {
        return error;
    }
    ADD_FAILURE() << "nothing was raised";
    return Kind("", "", 0, 0, 0);
}

// The ipc::CIPCError that f raises, and whether it was raised as a more specific kind (the
// kinds are not polymorphic, so only the catch clause can tell).
struct RaisedIpcError {
    ipc::CIPCError error;
    bool moreSpecific;
};

template <typename F>
RaisedIpcError RaisedIpc(F&& f) {
    try {
        f();
    } catch (const ipc::CIPCSocketError& error) {
        return {error, true};
    } catch (const ipc::CIPCError& error) {
        return {error, false};
    }
    ADD_FAILURE() << "nothing was raised";
    return {ipc::CIPCError("", "", 0, 0, 0), false};
}

inline void ExpectError(const err::CGeneralError& e, const char* source, const char* message,
                        int line, int value, std::uint32_t systemError) {
    EXPECT_STREQ(e.Source(), source);
    EXPECT_STREQ(e.Message(), message);
    EXPECT_EQ(e.Line(), line);
    EXPECT_EQ(e.Value(), value);
    EXPECT_EQ(e.SystemError(), systemError);
}

// A server that serves one connection of its listener on a thread of its own. Whatever it
// raises becomes the text of Failure(), which a test checks after the client is done.
class ServerThread {
public:
    explicit ServerThread(std::function<void(sys::FileDescriptor)> serve)
        : thread_([this, serve = std::move(serve)] {
              try {
                  serve(listener_.Accept());
              } catch (const std::exception& error) {
                  failure_ = error.what();
              }
          }) {}
    ~ServerThread() { Join(); }

    int Port() const { return listener_.Port(); }
    // Waits for the server to end and returns its failure, empty when it had none.
    std::string Failure() {
        Join();
        return failure_;
    }

private:
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    Listener listener_;
    std::string failure_;
    std::thread thread_;
};

}  // namespace testipc
