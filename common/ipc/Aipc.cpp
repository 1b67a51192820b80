#include "common/ipc/Aipc.h"

#include "common/err/Errors.h"
#include "common/ipc/IpcLines.h"
#include "common/ipc/TcpSocketIpc.h"
#include "common/ipc/TlsChannelFactory.h"

namespace ipc {
namespace {

constexpr const char* kSource = "common\\ipc\\Aipc";

}  // namespace

CIPCInterface::~CIPCInterface() = default;

void CIPCInterface::CancelBlockingCall() {
    throw CIPCError(kSource,
                    "CIPCInterface::CancelBlockingCall() - Base class must override this call.",
                    lines::kCancelNotOverridden, kInterfaceNotOverridden, 0);
}

std::unique_ptr<CIPCInterface> CIPCInterface::Create(int type) {
    if (type == IPCTYPE_TCP) {
        return std::make_unique<CTCPSocketIPC>();
    }
    return nullptr;
}

std::unique_ptr<CIPCInterface> CIPCInterface::CreateEncrypted(int type,
                                                              std::unique_ptr<CIPCInterface>& inner,
                                                              const ServerIdentityPolicy& policy) {
    if (!inner) {
        throw CIPCError(kSource,
                        "CIPCInterface::CreateEncrypted() - Invalid CIPCInterface pointer passed "
                        "to CreateEncrypted.",
                        lines::kEncryptWithoutTransport, kInterfaceMissingTransport, 0);
    }
    if (type != IPCTYPE_SCHANNEL) {
        throw CIPCError(
            kSource,
            "CIPCInterface::CreateEncrypted() - Invalid IPC type passed to CreateEncrypted.",
            lines::kEncryptUnknownType, kInterfaceUnknownType, 0);
    }
    return OpenTlsChannel(inner, policy);
}

}  // namespace ipc
