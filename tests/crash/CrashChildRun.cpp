#include "tests/crash/CrashChildRun.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <string_view>

#include "tests/support/ChildProcess.h"

namespace crashtest {
namespace {

constexpr std::chrono::seconds kLongestRun{60};

// The sanitizers' own crash handling switched off, added to what options the test has, so
// that the handler under test is the one that runs.
std::vector<std::string> SanitizerOptions() {
    constexpr std::string_view kCrashOptions =
        "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
        "detect_leaks=0";
    std::vector<std::string> options;
    for (const std::string name : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
        const char* old = std::getenv(name.c_str());
        options.push_back(name + "=" + (old != nullptr ? std::string(old) + ":" : "") +
                          std::string(kCrashOptions));
    }
    return options;
}

}  // namespace

ChildResult RunCrashChild(const std::vector<std::string>& arguments) {
    std::vector<std::string> line{WARDEX_CRASH_CHILD};
    line.insert(line.end(), arguments.begin(), arguments.end());
    testsupport::ChildProcess child(line, SanitizerOptions());
    child.WaitForExit(kLongestRun);
    ChildResult result{child.Pid(), child.EndingSignal(), 0, 0, child.Output() + child.Errors()};
    // The child announces "thread <id>" and, where it is known, "address <hex>".
    std::istringstream words(child.Output());
    for (std::string word; words >> word;) {
        if (word == "thread") {
            words >> result.threadId;
        } else if (word == "address") {
            words >> std::hex >> result.faultAddress >> std::dec;
        }
    }
    return result;
}

std::string RunCommand(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
    std::string output;
    std::array<char, 4096> buffer;
    while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
        output += buffer.data();
    }
    return output;
}

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    return files;
}

bool IsDumpName(const std::filesystem::path& file) {
    static const std::regex kGuidDump(
        "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\.dmp");
    return std::regex_match(file.filename().string(), kGuidDump);
}

}  // namespace crashtest
