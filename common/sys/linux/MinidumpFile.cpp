#include "common/sys/linux/MinidumpFile.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <sys/syscall.h>

namespace sys {
namespace {

constexpr std::size_t kPageSize = 4096;
constexpr unsigned char kZeros[kPageSize] = {};

// Decodes one UTF-8 sequence and moves past it; a byte that starts no valid sequence gives
// U+FFFD.
char32_t NextCodePoint(std::string_view& text) noexcept {
    const auto lead = static_cast<unsigned char>(text.front());
    text.remove_prefix(1);
    const std::size_t extra = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : 0;
    if ((lead >= 0x80 && lead < 0xc0) || lead >= 0xf8 || text.size() < extra) {
        return 0xfffd;
    }
    char32_t value = extra == 0 ? lead : lead & (0x3f >> extra);
    for (std::size_t i = 0; i < extra; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xc0) != 0x80) {
            return 0xfffd;
        }
        value = (value << 6) | (next & 0x3f);
    }
    text.remove_prefix(extra);
    return value;
}

// Writes the UTF-16 units of one code point into out and returns how many there are.
std::size_t EncodeUtf16(char32_t value, char16_t* out) noexcept {
    if (value < 0x10000) {
        out[0] = static_cast<char16_t>(value);
        return 1;
    }
    value -= 0x10000;
    out[0] = static_cast<char16_t>(0xd800 + (value >> 10));
    out[1] = static_cast<char16_t>(0xdc00 + (value & 0x3ff));
    return 2;
}

std::size_t Utf16Units(std::string_view utf8) noexcept {
    std::size_t units = 0;
    char16_t scratch[2];
    while (!utf8.empty()) {
        units += EncodeUtf16(NextCodePoint(utf8), scratch);
    }
    return units;
}

}  // namespace

std::uint32_t MinidumpFile::Reserve(std::size_t size) noexcept {
    const std::uint64_t at = (end_ + 7) & ~std::uint64_t{7};
    end_ = at + size;
    if (end_ > std::numeric_limits<std::uint32_t>::max()) {
        ok_ = false;
    }
    return static_cast<std::uint32_t>(at);
}

minidump::LocationDescriptor MinidumpFile::Append(const void* data, std::size_t size) noexcept {
    const std::uint32_t at = Reserve(size);
    Write(at, data, size);
    return {static_cast<std::uint32_t>(size), at};
}

minidump::LocationDescriptor MinidumpFile::AppendMemory(std::uintptr_t address,
                                                        std::size_t size) noexcept {
    const std::uint32_t at = Reserve(size);
    std::size_t done = 0;
    while (done < size && ok_) {
        // Page by page, so that one unreadable page costs only itself.
        const std::size_t toPageEnd = kPageSize - (address + done) % kPageSize;
        const std::size_t chunk = std::min(size - done, toPageEnd);
        WriteMemoryPage(at + done, address + done, chunk);
        done += chunk;
    }
    return {static_cast<std::uint32_t>(size), at};
}

std::uint32_t MinidumpFile::AppendString(std::string_view utf8) noexcept {
    const auto bytes = static_cast<std::uint32_t>(Utf16Units(utf8) * sizeof(char16_t));
    const std::uint32_t at = Reserve(sizeof(bytes) + bytes + sizeof(char16_t));
    Write(at, &bytes, sizeof(bytes));
    std::uint64_t position = at + sizeof(bytes);
    char16_t units[64];
    std::size_t count = 0;
    while (!utf8.empty()) {
        count += EncodeUtf16(NextCodePoint(utf8), units + count);
        if (count + 2 > std::size(units) || utf8.empty()) {
            Write(position, units, count * sizeof(char16_t));
            position += count * sizeof(char16_t);
            count = 0;
        }
    }
    Write(position, kZeros, sizeof(char16_t));
    return at;
}

void MinidumpFile::WriteAt(std::uint32_t rva, const void* data, std::size_t size) noexcept {
    Write(rva, data, size);
}

void MinidumpFile::Write(std::uint64_t at, const void* data, std::size_t size) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0 && ok_) {
        const ssize_t written = ::pwrite(fd_, bytes, size, static_cast<off_t>(at));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ok_ = false;
            break;
        }
        bytes += written;
        at += static_cast<std::uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
}

void MinidumpFile::WriteMemoryPage(std::uint64_t at, std::uintptr_t address,
                                   std::size_t size) noexcept {
    // The kernel reads the memory and answers EFAULT where it cannot. The bare system call
    // keeps wrappers that check buffers (sanitizers) away from memory that is no buffer.
    const auto written =
        static_cast<ssize_t>(::syscall(SYS_pwrite64, fd_, address, size, static_cast<off_t>(at)));
    if (written == static_cast<ssize_t>(size)) {
        return;
    }
    const std::size_t kept = written > 0 ? static_cast<std::size_t>(written) : 0;
    Write(at + kept, kZeros, size - kept);
}

}  // namespace sys
