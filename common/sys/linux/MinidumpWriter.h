#pragma once

#include <signal.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/sys/linux/MinidumpFile.h"
#include "common/sys/linux/MinidumpFormat.h"
#include "common/sys/linux/ProcessMaps.h"
#include "common/sys/linux/StoppedThreads.h"

namespace sys {

// What a signal handler knows about a crash.
struct CrashReport {
    const siginfo_t* signal;
    const ucontext_t* context;
    std::uint32_t threadId;
};

// Writes a minidump of the running process: the crashing thread with its registers and stack,
// the other threads that could be stopped, the exception record, system information, the
// loaded modules with their build ids, the process id and the process's mappings. The memory it
// needs is reserved when it is made, and Write() makes only async-signal-safe calls, so a signal
// handler may call it.
class MinidumpWriter {
public:
    // Room for the crashing thread and up to maxOtherThreads others.
    explicit MinidumpWriter(std::size_t maxOtherThreads);

    // Writes the dump into fd, an empty file open for writing. False when a write failed.
    bool Write(int fd, const CrashReport& crash,
               std::span<const ThreadRegisters> otherThreads) noexcept;

private:
    // The crashing thread comes first; where its context went is kept for the exception.
    minidump::Directory WriteThreads(MinidumpFile& file, const ThreadRegisters& crashing,
                                     std::span<const ThreadRegisters> others,
                                     minidump::LocationDescriptor& crashingContext) noexcept;
    minidump::Thread WriteThread(MinidumpFile& file, const ThreadRegisters& thread) noexcept;
    minidump::Directory WriteMemoryList(MinidumpFile& file) noexcept;
    minidump::MemoryDescriptor WriteStack(MinidumpFile& file, std::uint64_t stackPointer) noexcept;
    minidump::Directory WriteException(MinidumpFile& file, const CrashReport& crash,
                                       minidump::LocationDescriptor context) noexcept;
    minidump::Directory WriteSystemInfo(MinidumpFile& file) noexcept;
    minidump::Directory WriteModules(MinidumpFile& file) noexcept;
    minidump::Module WriteModule(MinidumpFile& file, const MemoryRegion& first,
                                 std::uintptr_t end) noexcept;
    minidump::Directory WriteMiscInfo(MinidumpFile& file) noexcept;
    minidump::Directory WriteMaps(MinidumpFile& file) noexcept;

    ProcessMaps maps_;
    std::unique_ptr<minidump::MemoryDescriptor[]> stacks_;
    std::size_t stackCapacity_;
    std::size_t stackCount_ = 0;
    minidump::SystemInfo systemInfo_{};
    char kernelVersion_[256] = {};
};

}  // namespace sys
