// Reading and writing agent settings through the settings store file, against a baseline that
// only reads the same file (open, read, close) and a reference that only writes it durably
// (temporary file, fsync, rename, fsync of the folder), both in the same run.

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "agent/store/Settings.h"
#include "common/msg/QXMessage.h"
#include "common/sys/Registry.h"
#include "common/sys/linux/RegistryDefs.h"
#include "common/sys/linux/RegistryFile.h"

namespace {

constexpr const char* kServiceKey = "Software\\Corvane\\Client Service";

std::string ReadWholeFile(const std::string& path) {
    std::string content;
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[16384];
    for (ssize_t got; file >= 0 && (got = ::read(file, buffer, sizeof buffer)) > 0;) {
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(file);
    return content;
}

void BM_BaselineReadFile(benchmark::State& state) {
    const std::string path = sys::RegistryFile::DefaultPath();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadWholeFile(path));
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["file_bytes"] = static_cast<double>(ReadWholeFile(path).size());
}
BENCHMARK(BM_BaselineReadFile);

// One value through a key that stays open: shared lock, read and parse of the file.
void BM_RegistryReadString(benchmark::State& state) {
    sys::Registry key;
    key.SetKey(HKEY_LOCAL_MACHINE, kServiceKey);
    key.Open(false, true, 0);
    std::string value;
    for (auto _ : state) {
        key.ReadString("TcpAddr", value);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegistryReadString);

// What the agent does for one setting: open the key, read, close.
void BM_SettingsGetSetting(benchmark::State& state) {
    const CSettings settings;
    std::string value;
    for (auto _ : state) {
        settings.GetSetting("TcpAddr", value);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SettingsGetSetting);

// A "GetAgentSettings" request for every setting; items are settings.
void BM_SettingsGetAllSettings(benchmark::State& state) {
    const CSettings settings;
    for (auto _ : state) {
        msg::CQXMessage request;
        request.SetLead("Request", "GetAgentSettings");
        settings.GetSettings(&request);
        benchmark::DoNotOptimize(request.GetFields()->size());
    }
    state.SetItemsProcessed(state.iterations() * 60);
}
BENCHMARK(BM_SettingsGetAllSettings);

// The least a durable change of the store costs: the same bytes written as a change is.
void BM_DurableWriteReference(benchmark::State& state) {
    const std::string path = sys::RegistryFile::DefaultPath();
    const std::string folderPath = std::filesystem::path(path).parent_path().string();
    const std::string content = ReadWholeFile(path);
    const std::string temporary = folderPath + "/bench-reference";
    const int folder = ::open(folderPath.c_str(), O_RDONLY | O_CLOEXEC);
    for (auto _ : state) {
        const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        benchmark::DoNotOptimize(::write(file, content.data(), content.size()));
        ::fsync(file);
        ::close(file);
        ::rename(temporary.c_str(), (folderPath + "/bench-reference.reg").c_str());
        ::fsync(folder);
    }
    ::close(folder);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DurableWriteReference)->UseRealTime();

// One setting stored: open the key, then read, change and durably replace the file under
// the exclusive lock.
void BM_SettingsSetSetting(benchmark::State& state) {
    const CSettings settings;
    unsigned size = 1024;
    for (auto _ : state) {
        settings.SetSetting("LogSize", std::to_string(++size));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SettingsSetSetting)->UseRealTime();

// A store with every setting, as an agent in the field has, in a folder of its own.
void FillStore() {
    const CSettings settings;
    msg::CQXMessage all;
    all.SetLead("Request", "SetAgentSettings");
    for (const char* name :
         {"InstallDir", "LogFile", "LogFilename", "MCastAddr", "TcpAddr", "TcpPort", "MCastPort",
          "TTL", "ConsoleName", "ScheduledBlockStart", "ScheduledBlockEnd", "TempBlockEnd",
          "BootDrive", "ClientID", "ConsoleGroup", "SecurityKey"}) {
        all.SetField(name, std::string("value of ") + name);
    }
    for (const char* name : {"LogInformation",
                             "LogErrors",
                             "LogDebug",
                             "LogSize",
                             "PromptExecute",
                             "PromptReboot",
                             "SyncTimeWithServer",
                             "UseMCast",
                             "SecondsToWait",
                             "UseTimeOut",
                             "AllowMod",
                             "QXAuthentication",
                             "UpdateFileSystemSids",
                             "ShowTrayIcon",
                             "ForceReboot",
                             "SetSpeedLimit",
                             "SpeedLimit",
                             "ConnectionParadigm",
                             "UseHardTimeout",
                             "HardTimeout",
                             "CloseTimeout",
                             "ReconnectInterval",
                             "BlockedDaysFlags",
                             "SleepTime",
                             "UseRCDrivers",
                             "PromptRemoteControl",
                             "AllowRemoteControl",
                             "SettingsChanged",
                             "EncryptSessions",
                             "RequireEncrypt",
                             "EncryptedClientID",
                             "EnableDirectDiskAccess",
                             "UpdateBootworkTransport",
                             "UpdateBootworkIP",
                             "BootDiskMessageUsage",
                             "EnableReconnectDownloadWaits",
                             "ReconnectWait",
                             "DownloadWait",
                             "RequirePasswordForUserProp",
                             "WakeOnLANProxy",
                             "MCastProxy",
                             "MCastProxyRate",
                             "TestConnectionEvery",
                             "UnattendedInstallComplete"}) {
        all.SetField(name, "1");
    }
    // A store that cannot be filled leaves nothing to measure.
    settings.SetSettings(
        &all, [](const std::exception_ptr& failure) { std::rethrow_exception(failure); });
}

}  // namespace

int main(int argc, char** argv) {
    std::string root = (std::filesystem::temp_directory_path() / "wardex-bench-XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) {
        return 1;
    }
    ::setenv("CORVANE_ROOT", root.c_str(), 1);
    FillStore();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(root);
    return 0;
}
