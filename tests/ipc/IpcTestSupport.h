#pragma once

#include <tuple>

#include "common/err/Errors.h"
#include "tests/support/TestBasics.h"
#include "tests/support/TestServer.h"

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

inline void ExpectError(const err::CGeneralError& e, const char* source, const char* message,
                        int line, int value, std::uint32_t systemError) {
    EXPECT_EQ(std::tuple(std::string(e.Source()), std::string(e.Message()), e.Line(), e.Value(),
                         e.SystemError()),
              std::tuple(std::string(source), std::string(message), line, value, systemError));
}

}  // namespace testipc
