#include "agent/store/Settings.h"

#include <memory>

#include "agent/store/StoreLines.h"
#include "common/err/Errors.h"
#include "common/lang/DataConverter.h"
#include "common/sys/DataRegistry.h"
#include "common/util/StringUtils.h"

namespace {

constexpr const char* kSource = "Settings";
constexpr const char* kSettingsKey = "Software\\Corvane\\Client Service";
constexpr const char* kParentKey = "Software\\Corvane";

enum SettingType { kText = 1, kBoolean = 3, kInteger = 4, kUnsigned = 5, kBinary = 6 };

struct Setting {
    const char* name;
    int type;
};

// Searched in order, names compared byte for byte; ends with a null name.
constexpr Setting kSettings[] = {
    {"InstallDir", kText},
    {"LogFile", kText},
    {"LogFilename", kText},
    {"LogInformation", kBoolean},
    {"LogErrors", kBoolean},
    {"LogDebug", kBoolean},
    {"LogSize", kUnsigned},
    {"PromptExecute", kBoolean},
    {"PromptReboot", kBoolean},
    {"SyncTimeWithServer", kBoolean},
    {"UseMCast", kUnsigned},
    {"MCastAddr", kText},
    {"TcpAddr", kText},
    {"TcpPort", kText},
    {"MCastPort", kText},
    {"TTL", kText},
    {"ConsoleName", kText},
    {"SecondsToWait", kUnsigned},
    {"UseTimeOut", kUnsigned},
    {"AllowMod", kBoolean},
    {"QXAuthentication", kBoolean},
    {"UpdateFileSystemSids", kBoolean},
    {"ShowTrayIcon", kBoolean},
    {"ForceReboot", kBoolean},
    {"SetSpeedLimit", kBoolean},
    {"SpeedLimit", kUnsigned},
    {"ConnectionParadigm", kInteger},
    {"UseHardTimeout", kBoolean},
    {"HardTimeout", kUnsigned},
    {"CloseTimeout", kUnsigned},
    {"ReconnectInterval", kUnsigned},
    {"BlockedDaysFlags", kUnsigned},
    {"ScheduledBlockStart", kText},
    {"ScheduledBlockEnd", kText},
    {"TempBlockEnd", kText},
    {"SleepTime", kInteger},
    {"BootDrive", kText},
    {"UseRCDrivers", kBoolean},
    {"PromptRemoteControl", kBoolean},
    {"AllowRemoteControl", kBoolean},
    {"SettingsChanged", kBoolean},
    {"EncryptSessions", kBoolean},
    {"RequireEncrypt", kBoolean},
    {"ClientID", kText},
    {"EncryptedClientID", kBoolean},
    {"EnableDirectDiskAccess", kBoolean},
    {"UpdateBootworkTransport", kBoolean},
    {"UpdateBootworkIP", kBoolean},
    {"BootDiskMessageUsage", kInteger},
    {"EnableReconnectDownloadWaits", kBoolean},
    {"ReconnectWait", kUnsigned},
    {"DownloadWait", kUnsigned},
    {"RequirePasswordForUserProp", kBoolean},
    {"WakeOnLANProxy", kBoolean},
    {"MCastProxy", kBoolean},
    {"MCastProxyRate", kInteger},
    {"ConsoleGroup", kText},
    {"SecurityKey", kText},
    {"TestConnectionEvery", kInteger},
    {"UnattendedInstallComplete", kInteger},
    // The agent's own checks of its server's identity, after the settings it has always had.
    {"VerifyServerName", kBoolean},
    {"ServerCertificatePins", kText},
    // A random addition to every reconnect wait, for fleets that lose their server at once.
    {"ReconnectSpread", kUnsigned},
    {nullptr, 0},
};

const Setting* FindSetting(const std::string& name) {
    for (const Setting* setting = kSettings; setting->name != nullptr; ++setting) {
        if (name == setting->name) {
            return setting;
        }
    }
    return nullptr;
}

// The converter for a type, holding the type's value before a read.
std::unique_ptr<lang::IDataConverter> MakeConverter(int type) {
    switch (type) {
        case kText:
            return std::make_unique<lang::StdString>("");
        case kBoolean:
            return std::make_unique<lang::Bool>(false);
        case kInteger:
            return std::make_unique<lang::Int>(-1);
        case kUnsigned:
            return std::make_unique<lang::UnsignedInt>(0u);
        case kBinary:
            return std::make_unique<lang::Binary>(nullptr, 0);
        default:
            return nullptr;
    }
}

void OpenKey(sys::CDataRegistry& registry, const char* subkey) {
    registry.SetKey(sys::RegistryRoot::LocalMachine, subkey);
    registry.Open(true, false, sys::Registry::kView32);
}

// The settings hold secrets ("SecurityKey"), so their key is made private whenever it is
// opened.
void OpenSettingsKey(sys::CDataRegistry& registry) {
    OpenKey(registry, kSettingsKey);
    registry.MakePrivate();
}

void DeleteKey(const char* subkey) {
    sys::CDataRegistry registry;
    OpenKey(registry, subkey);
    registry.Delete(false);
}

}  // namespace

void CSettings::GetSetting(const std::string& name, std::string& value) const {
    try {
        sys::CDataRegistry registry;
        OpenSettingsKey(registry);
        const Setting* setting = FindSetting(name);
        const auto converter = setting ? MakeConverter(setting->type) : nullptr;
        if (converter) {
            registry.ReadData(name, *converter);
            converter->GetString(value);
        }
        registry.Close();
    } catch (const sys::RegistryError&) {
        throw;
    } catch (...) {
        // Only registry errors are reported; value stays as it was.
    }
}

void CSettings::SetSetting(const std::string& name, const std::string& value) const {
    try {
        const Setting* setting = FindSetting(name);
        const auto converter = setting ? MakeConverter(setting->type) : nullptr;
        if (!converter) {
            return;
        }
        converter->Assign(value);
        sys::CDataRegistry registry;
        OpenSettingsKey(registry);
        registry.WriteData(name, *converter);
        registry.Close();
    } catch (const sys::RegistryError&) {
        throw;
    } catch (...) {
        throw err::CGeneralError(kSource, "CSettings::SetSetting() - Unknown exception caught.",
                                 store::lines::kSetSettingFailed, 0, err::LastSystemError());
    }
}

void CSettings::DeleteSetting(const std::string& name) const {
    try {
        sys::CDataRegistry registry;
        OpenSettingsKey(registry);
        registry.DeleteValue(name);
        registry.Close();
    } catch (const sys::RegistryError&) {
        throw;
    } catch (...) {
        throw err::CGeneralError(kSource, "CSettings::DeleteSetting() - Unknown exception caught.",
                                 store::lines::kDeleteSettingFailed, 0, err::LastSystemError());
    }
}

void CSettings::GetSettings(msg::IQXMessage* message) const {
    if (message == nullptr) {
        return;
    }
    if (util::CompareNoCase(message->GetField("Settings"), "Specified") == 0) {
        const msg::FieldMap fields = *message->GetFields();
        for (const auto& [name, current] : fields) {
            std::string value = current;
            try {
                GetSetting(name, value);
                message->SetField(name, value);
            } catch (const sys::RegistryError&) {
                // Not stored: the caller's value stays as the fallback.
            }
        }
        return;
    }
    for (const Setting* setting = kSettings; setting->name != nullptr; ++setting) {
        try {
            std::string value;
            GetSetting(setting->name, value);
            message->SetField(std::string(setting->name), value);
        } catch (...) {
            // Not stored (or unreadable): left out of the message.
        }
    }
}

void CSettings::SetSettings(msg::IQXMessage* message, const FailureHandler& onFailure) const {
    if (message == nullptr) {
        return;
    }
    const msg::FieldMap fields = *message->GetFields();
    for (const auto& [name, value] : fields) {
        try {
            SetSetting(name, value);
        } catch (const err::CGeneralError&) {
            onFailure(std::current_exception());
        }
    }
}

void CSettings::DeleteAllSettings() const {
    for (const Setting* setting = kSettings; setting->name != nullptr; ++setting) {
        try {
            DeleteSetting(setting->name);
        } catch (...) {
            // Already gone or not deletable: the keys below are removed all the same.
        }
    }
    DeleteKey(kSettingsKey);
    DeleteKey(kParentKey);
}
