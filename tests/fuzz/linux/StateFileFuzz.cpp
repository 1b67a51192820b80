// Loads arbitrary bytes as the state file "wardex.dat", the way a hostile or damaged disk
// could leave it. The loader either takes it, leaving it in place, or sets it aside with a
// reason; the allocation bound the fuzzer runs with catches a count that sizes memory.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "agent/store/AgentStore.h"
#include "tests/support/ScratchFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const scratch::ScratchFolder folder;
    static const std::string path = folder / "wardex.dat";
    scratch::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
    CAgentState state;
    const std::string reason = LoadAgentState(path, state);
    if (reason.empty() != std::filesystem::exists(path)) {
        __builtin_trap();
    }
    return 0;
}
