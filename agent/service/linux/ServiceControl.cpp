#include "agent/service/ServiceControl.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "agent/log/AgentLog.h"
#include "agent/service/linux/ServiceDispatcher.h"
#include "agent/service/linux/ServiceUnit.h"
#include "common/err/Errors.h"
#include "common/sys/FolderAccess.h"
#include "common/sys/Root.h"
#include "common/sys/ServiceNotify.h"
#include "common/sys/linux/Systemctl.h"
#include "common/util/LogLine.h"

namespace fs = std::filesystem;

namespace ServiceControl {

namespace {

constexpr const char* kSource = "ServiceControl";
constexpr const char* kWantsFolder = "multi-user.target.wants";

[[noreturn]] void Raise(const char* message, int line, int systemError) {
    throw WindowsServices::ServiceControlError(kSource, message, line, 0,
                                               static_cast<std::uint32_t>(systemError));
}

// The operations report their failures themselves: their callers only see false.
bool Failed(const char* operation, const err::CGeneralError& e) {
    try {
        WARDEX_LOG(*logging::CAgentLog::GetInstance(), LogLevel::Error,
                   "ServiceControl::%s - %s (system error %u)", operation, e.Message(),
                   e.SystemError());
    } catch (const err::CGeneralError&) {
    }
    return false;
}

struct UnitPaths {
    fs::path unit;
    fs::path link;
};

UnitPaths PathsOf(const Manager& manager, const char* name) {
    const std::string unit = UnitName(name);
    const fs::path folder(manager.unitFolder);
    return {folder / unit, folder / kWantsFolder / unit};
}

// The link systemctl enable would make, relative so that it holds under a relocated root.
void Enable(const UnitPaths& paths) {
    std::error_code error;
    fs::create_directories(paths.link.parent_path(), error);
    if (!error) {
        fs::create_symlink(fs::path("..") / paths.unit.filename(), paths.link, error);
    }
    if (error) {
        fs::remove(paths.unit, error);
        Raise("Failed to CreateService", __LINE__, error.value());
    }
}

void WriteUnit(const UnitPaths& paths, const std::string& text) {
    std::error_code error;
    if (fs::exists(paths.unit, error) || fs::is_symlink(paths.link, error)) {
        Raise("Failed to CreateService", __LINE__, EEXIST);
    }
    std::ofstream file(paths.unit, std::ios::binary);
    file << text;
    file.close();
    if (!file) {
        const int failure = errno;
        fs::remove(paths.unit, error);
        Raise("Failed to CreateService", __LINE__, failure);
    }
}

}  // namespace

std::string UnitName(const std::string& name) {
    std::string unit;
    for (const unsigned char c : name) {
        unit += std::isalnum(c) ? static_cast<char>(std::tolower(c)) : '-';
    }
    return unit + ".service";
}

Manager OpenManager(std::uint32_t access) {
    const std::string folder = sys::UnderRoot("etc/systemd/system");
    const bool writing = access == kManagerCreateService || access == kManagerAllAccess;
    std::error_code error;
    if (writing && !fs::create_directories(folder, error) && error) {
        Raise("Failed to Open ServiceManager service", __LINE__, error.value());
    }
    if (const int denied = sys::FolderAccessError(folder, writing)) {
        Raise("Failed to Open ServiceManager service", __LINE__, denied);
    }
    return {folder};
}

bool Install(const char* name, const char* programPath, const std::string& argumentText,
             int startType) {
    try {
        const UnitPaths paths = PathsOf(OpenManager(kManagerCreateService), name);
        WriteUnit(paths, UnitText(name, programPath, argumentText));
        if (startType == kAutomaticStart) {
            Enable(paths);
        }
        sys::RunSystemctl({"daemon-reload"});
        return true;
    } catch (const WindowsServices::ServiceControlError& e) {
        return Failed("Install", e);
    }
}

bool Delete(const char* name) {
    try {
        const UnitPaths paths = PathsOf(OpenManager(kManagerAllAccess), name);
        std::error_code error;
        if (!fs::exists(paths.unit, error)) {
            Raise("Failed to open service", __LINE__, ENOENT);
        }
        sys::RunSystemctl({"disable", paths.unit.filename().string()});
        fs::remove(paths.link, error);
        if (error || !fs::remove(paths.unit, error)) {
            Raise("Failed to delete service", __LINE__, error.value());
        }
        sys::RunSystemctl({"daemon-reload"});
        return true;
    } catch (const WindowsServices::ServiceControlError& e) {
        return Failed("Delete", e);
    }
}

bool IsRunning(const char* name) {
    try {
        const UnitPaths paths = PathsOf(OpenManager(kManagerCreateService), name);
        std::error_code error;
        if (!fs::exists(paths.unit, error)) {
            Raise("Failed to open service", __LINE__, ENOENT);
        }
        return sys::IsServiceManagerRunning() &&
               sys::RunSystemctl({"is-active", "--quiet", paths.unit.filename().string()}) == 0;
    } catch (const WindowsServices::ServiceControlError&) {
        return false;
    }
}

bool StartService(WindowsServices::WinSvcEntry& entry) {
    if (IsRunning(entry.GetServiceName())) {
        Raise("StartService - Service is already running", __LINE__, 0);
    }
    try {
        if (!sys::IsStartedByServiceManager()) {
            Raise("Failed to start service", __LINE__, ENOTSUP);
        }
        CServiceDispatcher dispatcher(entry);
        dispatcher.Run();
        return true;
    } catch (const WindowsServices::ServiceControlError& e) {
        return Failed("StartService", e);
    }
}

WindowsServices::IStatusHandle* RegisterControlHandler(
    const char* name, WindowsServices::ControlHandlerFunction handler, void* context) {
    CServiceDispatcher* dispatcher = CServiceDispatcher::Active();
    if (dispatcher == nullptr || !dispatcher->Register(name, handler, context)) {
        return nullptr;
    }
    return dispatcher;
}

}  // namespace ServiceControl
