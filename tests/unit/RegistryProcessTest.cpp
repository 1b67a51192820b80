#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "common/sys/Registry.h"
#include "tests/unit/RegistryFixture.h"

namespace {

using regtest::kServiceKey;

class RegistryProcessTest : public regtest::RegistryFixture {
protected:
    // Runs body in a child process; the child's exit code is 0 when body returns normally.
    template <typename Body>
    static pid_t Spawn(Body body) {
        const pid_t child = ::fork();
        if (child == 0) {
            try {
                body();
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        return child;
    }

    static int WaitFor(pid_t child) {
        int status = 0;
        ::waitpid(child, &status, 0);
        return status;
    }

    std::vector<std::string> Temporaries() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(StoreFolder())) {
            if (entry.path().filename() != "registry.reg") {
                found.push_back(entry.path().filename().string());
            }
        }
        return found;
    }
};

// A child process and two threads of this one write at once. Each change opens the lock
// anew, so threads of one process wait for each other as processes do.
TEST_F(RegistryProcessTest, ProcessesAndThreadsWritingAtOnceLoseNoUpdate) {
    constexpr int kEach = 100;
    const auto writer = [](const std::string& prefix) {
        sys::Registry key;
        key.SetKey(HKEY_LOCAL_MACHINE, kServiceKey);
        key.Open(true, false, 0);
        for (int i = 0; i < kEach; ++i) {
            key.WriteString(prefix + std::to_string(i), prefix);
        }
    };
    const pid_t child = Spawn([&] { writer("Process"); });
    std::thread first(writer, "First");
    std::thread second(writer, "Second");
    first.join();
    second.join();
    EXPECT_EQ(WaitFor(child), 0);

    sys::Registry key;
    OpenKey(key, kServiceKey, false);
    for (const std::string prefix : {"Process", "First", "Second"}) {
        for (int i = 0; i < kEach; ++i) {
            std::string value;
            EXPECT_NO_THROW(key.ReadString(prefix + std::to_string(i), value)) << prefix << i;
            EXPECT_EQ(value, prefix) << prefix << i;
        }
    }
}

// A reader that takes no lock (an administrator's cat or editor) and a writer killed at any
// moment both find the store as it was before a change or after it, never in between.
TEST_F(RegistryProcessTest, ReadersAndKilledWritersSeeTheOldOrTheNewStoreNeverAMix) {
    // Large values make each write take long enough to be caught in the middle.
    const std::string oldValue(64 * 1024, '\x11');
    const std::string newValue(64 * 1024, '\x22');
    const auto write = [](sys::Registry& key, const std::string& value) {
        key.WriteBinary("Blob", value.data(), static_cast<std::uint32_t>(value.size()));
    };
    sys::Registry key;
    OpenKey(key);
    write(key, newValue);
    const std::string newText = ReadStore();
    write(key, oldValue);
    const std::string oldText = ReadStore();
    ASSERT_NE(oldText, newText);

    std::mt19937 random(12345);
    for (int round = 0; round < 4; ++round) {
        const pid_t child = Spawn([&] {
            for (;;) {
                write(key, newValue);
                write(key, oldValue);
            }
        });
        int mixed = 0;
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(100 + random() % 100);
        while (std::chrono::steady_clock::now() < end) {
            const std::string seen = ReadStore();
            mixed += seen == oldText || seen == newText ? 0 : 1;
        }
        ::kill(child, SIGKILL);
        WaitFor(child);
        EXPECT_EQ(mixed, 0) << "round " << round;

        std::uint32_t size = static_cast<std::uint32_t>(oldValue.size());
        std::string stored(size, '\0');
        ASSERT_NO_THROW(
            key.ReadBinary("Blob", reinterpret_cast<unsigned char*>(stored.data()), size))
            << "round " << round;
        EXPECT_TRUE(stored == oldValue || stored == newValue) << "round " << round;
    }
    // The killed writers' lock went with them, and the next writer clears what they left.
    key.WriteString("After", "written");
    EXPECT_TRUE(Temporaries().empty());
}

}  // namespace
