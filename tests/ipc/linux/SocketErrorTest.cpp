#include <netdb.h>

#include <cerrno>
#include <string>

#include "common/ipc/SocketError.h"
#include "common/ipc/SocketErrorText.h"
#include "common/ipc/linux/SocketError.h"
#include "tests/ipc/IpcTestSupport.h"

namespace {

// Spot checks of the numbers a management server sees in its replies; every errno must map
// to a code that has a text.
TEST(SocketError, ErrnoAndResolverFailuresMapToCodesWithTexts) {
    EXPECT_EQ(ipc::WinsockErrorFromErrno(0), 0u);
    EXPECT_EQ(ipc::WinsockErrorFromErrno(ECONNRESET), 10054u);
    EXPECT_EQ(ipc::WinsockErrorFromErrno(EPIPE), 10058u);
    EXPECT_EQ(ipc::WinsockErrorFromErrno(EIO), 10107u);
    errno = ECONNREFUSED;
    EXPECT_EQ(ipc::LastSocketError(), 10061u);
    EXPECT_EQ(ipc::WinsockErrorFromResolver(EAI_NONAME), 11001u);
    for (int value = 1; value < 200; ++value) {
        const std::uint32_t code = ipc::WinsockErrorFromErrno(value);
        EXPECT_FALSE(ipc::SocketErrorText(static_cast<int>(code)).empty())
            << "errno " << value << " gives " << code;
    }
}

}  // namespace
