#include "common/sys/linux/ProcessMaps.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/sys/linux/FileDescriptor.h"

namespace sys {
namespace {

// Reads a hexadecimal or decimal number and moves past it.
std::uint64_t ParseNumber(std::string_view& text, unsigned base) noexcept {
    std::uint64_t value = 0;
    while (!text.empty()) {
        const char c = text.front();
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else {
            break;
        }
        value = value * base + digit;
        text.remove_prefix(1);
    }
    return value;
}

// Moves past one field and the blanks after it.
std::string_view SkipField(std::string_view text) noexcept {
    while (!text.empty() && text.front() != ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    return text;
}

// "start-end perms offset dev inode   path"
MemoryRegion ParseLine(std::string_view line) noexcept {
    MemoryRegion region;
    region.start = ParseNumber(line, 16);
    line.remove_prefix(line.empty() ? 0 : 1);
    region.end = ParseNumber(line, 16);
    line = SkipField(line);
    region.readable = !line.empty() && line.front() == 'r';
    line = SkipField(line);
    region.fileOffset = ParseNumber(line, 16);
    line = SkipField(SkipField(line));
    region.inode = ParseNumber(line, 10);
    region.path = SkipField(line);
    return region;
}

}  // namespace

ProcessMaps::ProcessMaps(std::size_t textCapacity, std::size_t regionCapacity)
    : text_(new char[textCapacity]),
      textCapacity_(textCapacity),
      regions_(new MemoryRegion[regionCapacity]),
      regionCapacity_(regionCapacity) {}

bool ProcessMaps::Read() noexcept {
    textLength_ = 0;
    regionCount_ = 0;
    FileDescriptor file(::open("/proc/self/maps", O_RDONLY | O_CLOEXEC));
    if (!file) {
        return false;
    }
    while (textLength_ < textCapacity_) {
        const ssize_t got =
            ::read(file.Get(), text_.get() + textLength_, textCapacity_ - textLength_);
        if (got <= 0) {
            break;
        }
        textLength_ += static_cast<std::size_t>(got);
    }
    // Keep whole lines only.
    while (textLength_ > 0 && text_[textLength_ - 1] != '\n') {
        --textLength_;
    }
    Parse();
    return regionCount_ > 0;
}

void ProcessMaps::Parse() noexcept {
    std::string_view rest = Text();
    while (!rest.empty() && regionCount_ < regionCapacity_) {
        const std::size_t endOfLine = rest.find('\n');
        regions_[regionCount_++] = ParseLine(rest.substr(0, endOfLine));
        rest.remove_prefix(endOfLine + 1);
    }
}

const MemoryRegion* ProcessMaps::Find(std::uintptr_t address) const noexcept {
    const MemoryRegion* region = FindAtOrAbove(address);
    return region != nullptr && region->start <= address ? region : nullptr;
}

const MemoryRegion* ProcessMaps::FindAtOrAbove(std::uintptr_t address) const noexcept {
    for (const MemoryRegion& region : Regions()) {
        if (region.end > address) {
            return &region;
        }
    }
    return nullptr;
}

}  // namespace sys
