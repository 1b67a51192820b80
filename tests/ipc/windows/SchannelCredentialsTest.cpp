// Wine takes SCH_CREDENTIALS, so the fallback of older systems shows only against this
// stand-in for AcquireCredentialsHandleA.

#include <utility>

#include "common/ipc/windows/SchannelCredentials.h"
#include "tests/support/TestBasics.h"
// clang-format off
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
// clang-format on

namespace {

// The newer structure first, the older one where the system refuses it; neither names a
// protocol (no TLS parameters that disable one, no enabled ones that pin one), so the
// system's defaults hold, TLS 1.3 where it has it.
TEST(SchannelCredentials, LeaveTheProtocolsToTheSystemWithTheOlderStructureWhereNeeded) {
    using Attempt = std::pair<DWORD, DWORD>;  // the structure's version, the protocols named
    const std::vector<Attempt> both = {{SCH_CREDENTIALS_VERSION, 0}, {SCHANNEL_CRED_VERSION, 0}};
    const std::vector<std::vector<SECURITY_STATUS>> rows = {
        {SEC_E_OK},
        {SEC_E_UNKNOWN_CREDENTIALS, SEC_E_OK},
        {SEC_E_UNKNOWN_CREDENTIALS, SEC_E_INTERNAL_ERROR},
    };
    for (const auto& answers : rows) {
        std::vector<Attempt> attempts;
        const SECURITY_STATUS status = ipc::win::AcquireWithSystemDefaults([&](void* settings) {
            const auto* newer = static_cast<const SCH_CREDENTIALS*>(settings);
            const auto* older = static_cast<const SCHANNEL_CRED*>(settings);
            attempts.emplace_back(newer->dwVersion, newer->dwVersion == SCH_CREDENTIALS_VERSION
                                                        ? newer->cTlsParameters
                                                        : older->grbitEnabledProtocols);
            return answers.at(attempts.size() - 1);
        });
        EXPECT_EQ(status, answers.back());
        EXPECT_EQ(attempts, std::vector<Attempt>(both.begin(), both.begin() + answers.size()));
    }
}

}  // namespace
