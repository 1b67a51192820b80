#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace crashtest {

// How a run of the crash child went.
struct ChildResult {
    int pid = 0;
    int signal = 0;  // the signal that ended it; 0 when it exited or hung and was killed
    std::uint32_t threadId = 0;
    std::uint64_t faultAddress = 0;
    std::string output;  // standard output, then standard error
};

// Runs the crash child with the given arguments, its output read back, and waits at most a
// minute for it to end. AddressSanitizer and ThreadSanitizer are told to leave the
// crash signals to the child's own handler.
ChildResult RunCrashChild(const std::vector<std::string>& arguments);

// Runs a command through the shell and returns what it printed (both streams).
std::string RunCommand(const std::string& command);

// The files in folder; dumps are those named "<GUID>.dmp".
std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder);
bool IsDumpName(const std::filesystem::path& file);

}  // namespace crashtest
