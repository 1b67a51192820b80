#include "common/sys/linux/ElfBuildId.h"

#include <elf.h>

#include <cstring>

#include "common/sys/linux/OwnMemory.h"

namespace sys {
namespace {

constexpr std::size_t kMaxProgramHeaders = 64;
constexpr std::size_t kMaxNoteBytes = 1024;

std::size_t Align4(std::size_t value) {
    return (value + 3) & ~std::size_t{3};
}

// Looks through one note segment for the build id.
std::size_t FindBuildIdNote(const std::uint8_t* notes, std::size_t size,
                            std::span<std::uint8_t> out) {
    std::size_t at = 0;
    while (at + sizeof(Elf64_Nhdr) <= size) {
        Elf64_Nhdr header;
        std::memcpy(&header, notes + at, sizeof(header));
        const std::size_t name = at + sizeof(header);
        const std::size_t desc = name + Align4(header.n_namesz);
        const std::size_t next = desc + Align4(header.n_descsz);
        if (next > size) {
            return 0;
        }
        if (header.n_type == NT_GNU_BUILD_ID && header.n_namesz == 4 &&
            std::memcmp(notes + name, "GNU", 4) == 0 && header.n_descsz <= out.size()) {
            std::memcpy(out.data(), notes + desc, header.n_descsz);
            return header.n_descsz;
        }
        at = next;
    }
    return 0;
}

}  // namespace

std::size_t ReadElfBuildId(std::uintptr_t base, std::span<std::uint8_t> out) noexcept {
    Elf64_Ehdr elf;
    if (!ReadOwnMemory(base, &elf, sizeof(elf)) || std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 ||
        elf.e_ident[EI_CLASS] != ELFCLASS64 || elf.e_phentsize != sizeof(Elf64_Phdr) ||
        elf.e_phnum > kMaxProgramHeaders) {
        return 0;
    }
    Elf64_Phdr headers[kMaxProgramHeaders];
    if (!ReadOwnMemory(base + elf.e_phoff, headers, elf.e_phnum * sizeof(Elf64_Phdr))) {
        return 0;
    }
    // Addresses in the headers are relative to the load bias: the image's first loaded byte
    // (file offset 0) sits at base.
    std::uintptr_t bias = base;
    for (const Elf64_Phdr& header : std::span(headers, elf.e_phnum)) {
        if (header.p_type == PT_LOAD && header.p_offset == 0) {
            bias = base - header.p_vaddr;
            break;
        }
    }
    std::uint8_t notes[kMaxNoteBytes];
    for (const Elf64_Phdr& header : std::span(headers, elf.e_phnum)) {
        if (header.p_type != PT_NOTE || header.p_filesz > sizeof(notes) ||
            !ReadOwnMemory(bias + header.p_vaddr, notes, header.p_filesz)) {
            continue;
        }
        if (const std::size_t length = FindBuildIdNote(notes, header.p_filesz, out)) {
            return length;
        }
    }
    return 0;
}

}  // namespace sys
