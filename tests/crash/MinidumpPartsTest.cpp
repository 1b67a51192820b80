// The parts of the dump writer that a crash test cannot easily reach: names that are not
// ASCII, memory that cannot be read, and a listing of mappings too long for its stream.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>

#include "common/sys/FileDescriptor.h"
#include "common/sys/MinidumpFile.h"
#include "common/sys/ProcessMaps.h"

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

TEST(MinidumpFileTest, StringsAreLengthPrefixedZeroEndedUtf16) {
    ScratchDump dump;
    sys::MinidumpFile file(dump.Fd());
    file.Append("x", 1);
    // "Å/€/𝄞" and a stray continuation byte, which becomes U+FFFD.
    const std::uint32_t at = file.AppendString("\xc3\x85/\xe2\x82\xac/\xf0\x9d\x84\x9e\x80");
    ASSERT_TRUE(file.Ok());
    EXPECT_EQ(at % 8, 0u);
    const std::u16string expected = u"\u00c5/\u20ac/\U0001d11e\ufffd";
    const std::string bytes = dump.Contents();
    std::uint32_t length = 0;
    std::memcpy(&length, bytes.data() + at, sizeof(length));
    ASSERT_EQ(length, expected.size() * 2);
    ASSERT_EQ(bytes.size(), at + 4 + length + 2);
    std::u16string text(expected.size(), u'\0');
    std::memcpy(text.data(), bytes.data() + at + 4, length);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string(2, '\0'));
}

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

TEST(MinidumpFileTest, AFailedWriteIsRemembered) {
    sys::FileDescriptor readOnly(::open("/proc/self/maps", O_RDONLY | O_CLOEXEC));
    sys::MinidumpFile file(readOnly.Get());
    file.Append("data", 4);
    EXPECT_FALSE(file.Ok());
}

// Finding the mappings is what every crash test's module and stack checks rest on; the cut
// of a long listing is seen only here.
TEST(ProcessMapsTest, ALongListingIsCutAtAWholeLine) {
    sys::ProcessMaps maps(200, 4096);
    ASSERT_TRUE(maps.Read());
    EXPECT_LE(maps.Text().size(), 200u);
    EXPECT_EQ(maps.Text().back(), '\n');
    EXPECT_EQ(maps.Regions().size(),
              static_cast<std::size_t>(std::count(maps.Text().begin(), maps.Text().end(), '\n')));
}

}  // namespace
