#pragma once

#include <cstddef>
#include <cstring>

namespace testsupport {

// The slot a pointer to a virtual member function names. In the Itanium C++ ABI, which the
// POSIX and the MinGW builds both follow, its first word is one plus the slot's byte offset
// in the virtual table. Toolboxes built elsewhere call the agent's objects by these slots.
template <typename Member>
std::ptrdiff_t SlotOf(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t));
    std::ptrdiff_t words[2];
    std::memcpy(words, &member, sizeof(words));
    return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

}  // namespace testsupport
