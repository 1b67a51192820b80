#include <netdb.h>

#include <string>

#include "common/ipc/SocketErrorText.h"
#include "common/ipc/linux/SocketError.h"
#include "tests/ipc/IpcTestSupport.h"

namespace {

// The numbers a management server sees in its replies: every errno maps to a code that has a
// text (the common ones are seen in the socket failures), and so do the resolver's failures.
TEST(SocketError, ErrnoAndResolverFailuresMapToCodesWithTexts) {
    EXPECT_EQ(ipc::WinsockErrorFromErrno(0), 0u);
    EXPECT_EQ(ipc::WinsockErrorFromErrno(EIO), 10107u);
    EXPECT_EQ(ipc::WinsockErrorFromResolver(EAI_NONAME), 11001u);
    for (int value = 1; value < 200; ++value) {
        const std::uint32_t code = ipc::WinsockErrorFromErrno(value);
        EXPECT_FALSE(ipc::SocketErrorText(static_cast<int>(code)).empty())
            << "errno " << value << " gives " << code;
    }
}

}  // namespace
