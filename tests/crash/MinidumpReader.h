#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/sys/MinidumpFormat.h"

namespace crashtest {

// Reads a minidump written by the crash handler, checking every offset and size against the
// file. Anything out of place raises std::runtime_error naming what is wrong.
class MinidumpReader {
public:
    explicit MinidumpReader(const std::filesystem::path& path);

    // The stream of the given type; std::runtime_error when the dump has none.
    std::string_view Stream(std::uint32_t type) const;

    sys::minidump::ExceptionStream Exception() const;
    std::vector<sys::minidump::Thread> Threads() const;
    std::vector<sys::minidump::MemoryDescriptor> MemoryList() const;
    sys::minidump::ContextAmd64 Context(const sys::minidump::LocationDescriptor& where) const;
    std::string_view Bytes(const sys::minidump::LocationDescriptor& where) const;

private:
    std::string_view Range(std::uint64_t rva, std::uint64_t size) const;
    template <typename T>
    T Read(std::string_view bytes, std::size_t at = 0) const;

    std::string data_;
    std::vector<sys::minidump::Directory> directory_;
};

}  // namespace crashtest
