#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/sys/linux/MinidumpFormat.h"

namespace sys {

// Lays out a minidump in an open file: records go one after another at 8-byte aligned
// offsets, and places reserved early (the header, the stream directory) are filled in at the
// end. Only pwrite is used, so a signal handler may write with it. The first failed write is
// remembered and Ok() turns false.
class MinidumpFile {
public:
    explicit MinidumpFile(int fd) noexcept : fd_(fd) {}

    // Sets aside size bytes and returns where they start.
    std::uint32_t Reserve(std::size_t size) noexcept;
    minidump::LocationDescriptor Append(const void* data, std::size_t size) noexcept;
    // Copies the process's own memory; pages that cannot be read are written as zeros.
    minidump::LocationDescriptor AppendMemory(std::uintptr_t address, std::size_t size) noexcept;
    // A length-prefixed, zero-terminated UTF-16 string made from UTF-8 text.
    std::uint32_t AppendString(std::string_view utf8) noexcept;
    void WriteAt(std::uint32_t rva, const void* data, std::size_t size) noexcept;

    bool Ok() const noexcept { return ok_; }

private:
    void Write(std::uint64_t at, const void* data, std::size_t size) noexcept;
    void WriteMemoryPage(std::uint64_t at, std::uintptr_t address, std::size_t size) noexcept;

    int fd_;
    std::uint64_t end_ = 0;
    bool ok_ = true;
};

}  // namespace sys
