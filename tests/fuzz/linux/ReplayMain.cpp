// Replays a fuzz target's saved inputs without libFuzzer, so that every input that once
// found a fault stays a regression test in the ordinary build: each file of the folders
// named on the command line goes to LLVMFuzzerTestOneInput once. A crash or a sanitizer
// report ends the run; so does one allocation above the bound the fuzzer runs with, which
// is how a parser that sizes its memory from a hostile count shows up here.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "tests/support/ScratchFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size);

namespace {

// The same bound as scripts/fuzz's -malloc_limit_mb.
constexpr std::size_t kMostBytesAtOnce = std::size_t{256} << 20;

void* Allocate(std::size_t size) {
    if (size > kMostBytesAtOnce) {
        std::fprintf(stderr, "replay: one allocation of %zu bytes, over the bound of %zu\n", size,
                     kMostBytesAtOnce);
        std::abort();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

}  // namespace

// Every plain form of new and delete goes through these, so that each pair stays matched
// (also under AddressSanitizer, which checks that they do).
void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i])) {
            if (!entry.is_regular_file()) {
                continue;
            }
            std::printf("replay: %s\n", entry.path().c_str());
            std::fflush(stdout);
            const std::string bytes = scratch::ReadFile(entry.path());
            LLVMFuzzerTestOneInput(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   bytes.size());
            ++replayed;
        }
    }
    std::printf("replay: %zu inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
