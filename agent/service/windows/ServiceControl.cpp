#include "agent/service/ServiceControl.h"

#include <cstdio>

#include "agent/log/AgentLog.h"
#include "common/err/Errors.h"
#include "common/util/LogLine.h"

// The Windows service host (the service control manager's dispatcher, the control handler's
// registration, installing and removing the service) is not part of this build yet. Each
// operation says so, on the console and in the log, and fails the way it fails when the
// service manager refuses it; the console modes do not need it.
namespace ServiceControl {

namespace {

constexpr const char* kSource = "ServiceControl";

bool NotAvailable(const char* operation) {
    std::fprintf(stderr, "wardex: %s: the Windows service is not available in this build yet\n",
                 operation);
    try {
        WARDEX_LOG(*logging::CAgentLog::GetInstance(), LogLevel::Error,
                   "ServiceControl::%s - not available in this build yet", operation);
    } catch (const err::CGeneralError&) {
    }
    return false;
}

}  // namespace

bool Install(const char*, const char*, const std::string&, int) {
    return NotAvailable("Install");
}

bool Delete(const char*) {
    return NotAvailable("Delete");
}

bool IsRunning(const char*) {
    return false;
}

bool StartService(WindowsServices::WinSvcEntry&) {
    return NotAvailable("StartService");
}

WindowsServices::IStatusHandle* RegisterControlHandler(const char*,
                                                       WindowsServices::ControlHandlerFunction,
                                                       void*) {
    return nullptr;
}

}  // namespace ServiceControl
