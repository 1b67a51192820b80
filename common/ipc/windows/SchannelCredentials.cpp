#include "common/ipc/windows/SchannelCredentials.h"

// SCH_CREDENTIALS is declared only with the newer structures, which need UNICODE_STRING.
// clang-format off
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
// clang-format on

namespace ipc::win {

namespace {

constexpr DWORD kFlags =
    SCH_CRED_NO_SERVERNAME_CHECK | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;

}  // namespace

SECURITY_STATUS AcquireWithSystemDefaults(const AcquireCall& acquire) {
    SCH_CREDENTIALS settings{};
    settings.dwVersion = SCH_CREDENTIALS_VERSION;
    settings.dwFlags = kFlags;
    if (acquire(&settings) == SEC_E_OK) {
        return SEC_E_OK;
    }
    // No enabled protocols named: the system's defaults.
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.dwFlags = kFlags;
    return acquire(&older);
}

}  // namespace ipc::win
