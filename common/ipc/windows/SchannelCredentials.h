#pragma once

#include <functional>

#include "common/ipc/windows/SspiHandles.h"

namespace ipc::win {

// One AcquireCredentialsHandleA for outbound Schannel credentials from the settings
// structure given, an SCH_CREDENTIALS or an SCHANNEL_CRED.
using AcquireCall = std::function<SECURITY_STATUS(void* settings)>;

// Client credentials that leave the protocol versions to the system's defaults, TLS 1.3 where
// the system has it: SCH_CREDENTIALS first, and where the system refuses it (before Windows 10
// 1809) SCHANNEL_CRED with no protocol restriction. No client certificate; the server's name
// and chain are left to the agent's own check. The status of the last attempt.
SECURITY_STATUS AcquireWithSystemDefaults(const AcquireCall& acquire);

}  // namespace ipc::win
