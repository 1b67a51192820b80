#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace sys {

// One mapping of the process's address space.
struct MemoryRegion {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::uint64_t fileOffset = 0;
    std::uint64_t inode = 0;
    bool readable = false;
    std::string_view path;  // empty for anonymous memory; "[stack]" and the like for the kernel's
};

// The mappings of the running process as /proc/self/maps lists them, read into memory that is
// reserved when the object is made. Read() only reads a file and parses it in place, so a
// signal handler may call it; a listing longer than the reservation is cut at a whole line.
class ProcessMaps {
public:
    ProcessMaps(std::size_t textCapacity, std::size_t regionCapacity);

    bool Read() noexcept;

    std::string_view Text() const noexcept { return {text_.get(), textLength_}; }
    std::span<const MemoryRegion> Regions() const noexcept {
        return {regions_.get(), regionCount_};
    }
    // The mapping that holds address, or null.
    const MemoryRegion* Find(std::uintptr_t address) const noexcept;
    // The first mapping that ends above address: the one holding it, or the next one up.
    const MemoryRegion* FindAtOrAbove(std::uintptr_t address) const noexcept;

private:
    void Parse() noexcept;

    std::unique_ptr<char[]> text_;
    std::size_t textCapacity_;
    std::size_t textLength_ = 0;
    std::unique_ptr<MemoryRegion[]> regions_;
    std::size_t regionCapacity_;
    std::size_t regionCount_ = 0;
};

}  // namespace sys
