#include <string>

#include "common/ipc/AddressText.h"
#include "common/ipc/IpAddress.h"
#include "common/ipc/SocketErrorText.h"
#include "tests/ipc/IpcTestSupport.h"

namespace {

// Spot checks of the sentences a management server sees in its replies; unknown codes have
// none.
TEST(SocketError, KnownCodesHaveTheirSentences) {
    EXPECT_EQ(ipc::SocketErrorText(10054),
              "An existing connection was forcibly closed by the remote host.");
    EXPECT_EQ(ipc::SocketErrorText(11001), "No such host is known.");
    for (const int code : {0, 10000, 10034, 11032}) {
        EXPECT_EQ(ipc::SocketErrorText(code), "") << code;
    }
}

TEST(IpAddress, DottedTextIsTakenAsItIsNamesAreResolved) {
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // INADDR_NONE
    EXPECT_EQ(ipc::IPv4Address("10.1.2.3").ToString(), "10.1.2.3");
    // Starts with a digit: no look-up, and not a dotted address either.
    EXPECT_EQ(ipc::IPv4Address("1server").NetworkOrder(), kNone);
    EXPECT_EQ(ipc::IPv4Address("").NetworkOrder(), kNone);
    EXPECT_EQ(ipc::IPv4Address("localhost").ToString(), "127.0.0.1");
}

}  // namespace
