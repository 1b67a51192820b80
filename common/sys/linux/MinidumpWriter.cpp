#include "common/sys/linux/MinidumpWriter.h"

#include <cpuid.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/utsname.h>

#include "common/sys/linux/ElfBuildId.h"
#include "common/sys/linux/MinidumpContext.h"
#include "common/sys/linux/OwnMemory.h"

namespace sys {
namespace {

constexpr std::size_t kMapsTextCapacity = 512 * 1024;
constexpr std::size_t kMapsRegionCapacity = 8192;
// Below the stack pointer, leaf functions keep data in the red zone.
constexpr std::uint64_t kRedZone = 128;
// Enough for a long backtrace without letting a deep recursion fill the disk.
constexpr std::uint64_t kMaxStackBytes = 256 * 1024;
constexpr std::size_t kMaxBuildIdBytes = 64;
constexpr std::size_t kStreamCount = 7;

minidump::SystemInfo DescribeSystem(const utsname& names) {
    minidump::SystemInfo info{};
    info.processorArchitecture = minidump::kArchitectureAmd64;
    info.numberOfProcessors =
        static_cast<std::uint8_t>(std::clamp(::sysconf(_SC_NPROCESSORS_ONLN), 1L, 255L));
    info.platformId = minidump::kPlatformLinux;
    std::sscanf(names.release, "%u.%u.%u", &info.majorVersion, &info.minorVersion,
                &info.buildNumber);
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) != 0) {
        info.vendorId[0] = ebx;
        info.vendorId[1] = edx;
        info.vendorId[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
        info.versionInformation = eax;
        info.featureInformation = edx;
        const unsigned family = (eax >> 8) & 0xf;
        const unsigned model = (eax >> 4) & 0xf;
        info.processorLevel =
            static_cast<std::uint16_t>(family == 0xf ? family + ((eax >> 20) & 0xff) : family);
        info.processorRevision = static_cast<std::uint16_t>((model << 8) | (eax & 0xf));
    }
    return info;
}

bool IsElfImage(std::uintptr_t base) {
    char magic[4];
    return ReadOwnMemory(base, magic, sizeof(magic)) && std::memcmp(magic, "\177ELF", 4) == 0;
}

// A loaded image begins with a file mapping at offset 0.
bool StartsModule(const MemoryRegion& region) {
    return region.fileOffset == 0 && !region.path.empty() && region.path.front() == '/' &&
           IsElfImage(region.start);
}

}  // namespace

MinidumpWriter::MinidumpWriter(std::size_t maxOtherThreads)
    : maps_(kMapsTextCapacity, kMapsRegionCapacity),
      stacks_(new minidump::MemoryDescriptor[maxOtherThreads + 1]),
      stackCapacity_(maxOtherThreads + 1) {
    utsname names{};
    if (::uname(&names) == 0) {
        systemInfo_ = DescribeSystem(names);
        std::snprintf(kernelVersion_, sizeof(kernelVersion_), "%s %s", names.release,
                      names.version);
    } else {
        systemInfo_ = DescribeSystem(utsname{});
    }
}

bool MinidumpWriter::Write(int fd, const CrashReport& crash,
                           std::span<const ThreadRegisters> otherThreads) noexcept {
    maps_.Read();
    stackCount_ = 0;
    MinidumpFile file(fd);
    const std::uint32_t headerRva = file.Reserve(sizeof(minidump::Header));
    const std::uint32_t directoryRva = file.Reserve(kStreamCount * sizeof(minidump::Directory));

    const ThreadRegisters crashing{crash.threadId, ContextFromSignal(*crash.context)};
    minidump::LocationDescriptor crashingContext{};
    // A braced list runs its parts in order: the memory list and the exception stream use
    // what writing the threads found out.
    const minidump::Directory directory[kStreamCount] = {
        WriteThreads(file, crashing, otherThreads, crashingContext),
        WriteMemoryList(file),
        WriteException(file, crash, crashingContext),
        WriteSystemInfo(file),
        WriteModules(file),
        WriteMiscInfo(file),
        WriteMaps(file),
    };
    file.WriteAt(directoryRva, directory, sizeof(directory));

    minidump::Header header{};
    header.signature = minidump::kSignature;
    header.version = minidump::kVersion;
    header.numberOfStreams = kStreamCount;
    header.streamDirectoryRva = directoryRva;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    header.timeDateStamp = static_cast<std::uint32_t>(now.tv_sec);
    file.WriteAt(headerRva, &header, sizeof(header));
    return file.Ok();
}

minidump::MemoryDescriptor MinidumpWriter::WriteStack(MinidumpFile& file,
                                                      std::uint64_t stackPointer) noexcept {
    const std::uint64_t low = stackPointer - kRedZone;
    // After a stack overflow the pointer lies below the stack's mapping: start where it begins.
    // Below a thread's stack other than the main one lies its guard page, a mapping of its
    // own that cannot be read: the stack is the mapping above it.
    const MemoryRegion* region = maps_.FindAtOrAbove(low);
    if (region != nullptr && !region->readable && region->start <= stackPointer) {
        region = maps_.FindAtOrAbove(region->end);
    }
    if (region == nullptr || !region->readable || region->start > stackPointer + kMaxStackBytes) {
        return {};
    }
    const std::uint64_t start = std::max<std::uint64_t>(low, region->start);
    const std::uint64_t end = std::min<std::uint64_t>(region->end, start + kMaxStackBytes);
    return {start, file.AppendMemory(start, end - start)};
}

minidump::Directory MinidumpWriter::WriteThreads(
    MinidumpFile& file, const ThreadRegisters& crashing, std::span<const ThreadRegisters> others,
    minidump::LocationDescriptor& crashingContext) noexcept {
    const auto count = static_cast<std::uint32_t>(1 + std::min(others.size(), stackCapacity_ - 1));
    const std::size_t size = sizeof(count) + count * sizeof(minidump::Thread);
    const std::uint32_t at = file.Reserve(size);
    file.WriteAt(at, &count, sizeof(count));
    for (std::uint32_t i = 0; i < count; ++i) {
        const minidump::Thread thread = WriteThread(file, i == 0 ? crashing : others[i - 1]);
        if (i == 0) {
            crashingContext = thread.threadContext;
        }
        file.WriteAt(at + sizeof(count) + i * sizeof(thread), &thread, sizeof(thread));
    }
    return {minidump::kThreadListStream, {static_cast<std::uint32_t>(size), at}};
}

minidump::Thread MinidumpWriter::WriteThread(MinidumpFile& file,
                                             const ThreadRegisters& registers) noexcept {
    minidump::Thread thread{};
    thread.threadId = registers.threadId;
    thread.threadContext = file.Append(&registers.context, sizeof(registers.context));
    thread.stack = WriteStack(file, registers.context.rsp);
    if (thread.stack.memory.dataSize > 0) {
        stacks_[stackCount_++] = thread.stack;
    }
    return thread;
}

minidump::Directory MinidumpWriter::WriteMemoryList(MinidumpFile& file) noexcept {
    const auto count = static_cast<std::uint32_t>(stackCount_);
    const std::size_t size = sizeof(count) + count * sizeof(minidump::MemoryDescriptor);
    const std::uint32_t at = file.Reserve(size);
    file.WriteAt(at, &count, sizeof(count));
    file.WriteAt(at + sizeof(count), stacks_.get(), count * sizeof(minidump::MemoryDescriptor));
    return {minidump::kMemoryListStream, {static_cast<std::uint32_t>(size), at}};
}

minidump::Directory MinidumpWriter::WriteException(MinidumpFile& file, const CrashReport& crash,
                                                   minidump::LocationDescriptor context) noexcept {
    minidump::ExceptionStream stream{};
    stream.threadId = crash.threadId;
    stream.exceptionRecord.exceptionCode = static_cast<std::uint32_t>(crash.signal->si_signo);
    stream.exceptionRecord.exceptionFlags = static_cast<std::uint32_t>(crash.signal->si_code);
    stream.exceptionRecord.exceptionAddress =
        reinterpret_cast<std::uintptr_t>(crash.signal->si_addr);
    stream.threadContext = context;
    return {minidump::kExceptionStream, file.Append(&stream, sizeof(stream))};
}

minidump::Directory MinidumpWriter::WriteSystemInfo(MinidumpFile& file) noexcept {
    minidump::SystemInfo info = systemInfo_;
    info.csdVersionRva = file.AppendString(kernelVersion_);
    return {minidump::kSystemInfoStream, file.Append(&info, sizeof(info))};
}

minidump::Directory MinidumpWriter::WriteModules(MinidumpFile& file) noexcept {
    const auto regions = maps_.Regions();
    std::uint32_t count = 0;
    for (const MemoryRegion& region : regions) {
        count += StartsModule(region) ? 1 : 0;
    }
    const std::size_t size = sizeof(count) + count * sizeof(minidump::Module);
    const std::uint32_t at = file.Reserve(size);
    file.WriteAt(at, &count, sizeof(count));
    std::uint32_t next = at + sizeof(count);
    for (std::size_t i = 0; i < regions.size(); ++i) {
        if (!StartsModule(regions[i])) {
            continue;
        }
        // The image goes on as long as the following mappings come from the same file.
        std::size_t last = i;
        while (last + 1 < regions.size() && regions[last + 1].inode == regions[i].inode &&
               regions[last + 1].path == regions[i].path) {
            ++last;
        }
        const minidump::Module module = WriteModule(file, regions[i], regions[last].end);
        file.WriteAt(next, &module, sizeof(module));
        next += sizeof(module);
    }
    return {minidump::kModuleListStream, {static_cast<std::uint32_t>(size), at}};
}

minidump::Module MinidumpWriter::WriteModule(MinidumpFile& file, const MemoryRegion& first,
                                             std::uintptr_t end) noexcept {
    minidump::Module module{};
    module.baseOfImage = first.start;
    module.sizeOfImage = static_cast<std::uint32_t>(end - first.start);
    module.moduleNameRva = file.AppendString(first.path);
    struct {
        std::uint32_t signature = minidump::kCvSignatureElf;
        std::uint8_t buildId[kMaxBuildIdBytes];
    } codeView;
    const std::size_t idLength = ReadElfBuildId(first.start, codeView.buildId);
    module.cvRecord = file.Append(&codeView, sizeof(codeView.signature) + idLength);
    return module;
}

minidump::Directory MinidumpWriter::WriteMiscInfo(MinidumpFile& file) noexcept {
    minidump::MiscInfo info{};
    info.sizeOfInfo = sizeof(info);
    info.flags1 = minidump::kMiscProcessId;
    info.processId = static_cast<std::uint32_t>(::getpid());
    return {minidump::kMiscInfoStream, file.Append(&info, sizeof(info))};
}

minidump::Directory MinidumpWriter::WriteMaps(MinidumpFile& file) noexcept {
    const std::string_view text = maps_.Text();
    return {minidump::kLinuxMapsStream, file.Append(text.data(), text.size())};
}

}  // namespace sys
