// The part of the dump writer that a crash test cannot easily reach: memory that cannot be
// read.

#include <unistd.h>

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>

#include "common/sys/linux/FileDescriptor.h"
#include "common/sys/linux/MinidumpFile.h"

namespace {

// A dump file in memory, read back whole.
class ScratchDump {
public:
    ScratchDump() : fd_(::memfd_create("dump", MFD_CLOEXEC)) {}
    int Fd() const { return fd_.Get(); }
    std::string Contents() const {
        std::string bytes(static_cast<std::size_t>(::lseek(fd_.Get(), 0, SEEK_END)), '\0');
        EXPECT_EQ(::pread(fd_.Get(), bytes.data(), bytes.size(), 0),
                  static_cast<ssize_t>(bytes.size()));
        return bytes;
    }

private:
    sys::FileDescriptor fd_;
};

TEST(MinidumpFileTest, UnreadableMemoryIsWrittenAsZeros) {
    const long page = ::sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(
        ::mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    std::memset(pages, 'a', 3 * page);
    ASSERT_EQ(::mprotect(pages + page, page, PROT_NONE), 0);

    ScratchDump dump;
    sys::MinidumpFile file(dump.Fd());
    const auto where = file.AppendMemory(reinterpret_cast<std::uintptr_t>(pages), 3 * page);
    EXPECT_TRUE(file.Ok());
    EXPECT_EQ(where.dataSize, 3 * page);
    const std::string bytes = dump.Contents().substr(where.rva);
    EXPECT_EQ(bytes, std::string(page, 'a') + std::string(page, '\0') + std::string(page, 'a'));
    ::munmap(pages, 3 * page);
}

}  // namespace
