// A toolbox for tests and benchmarks, built once per behaviour from this source; the
// definitions TEST_TOOLBOX_* choose its return code, its API version and its faults.
//
// Every message it handles gets its name appended to the field "Trail", so a test sees which
// toolboxes a message passed and in what order. When WARDEX_TEST_TOOLBOX_LOADS names a file,
// the library appends a line to it each time it enters memory ("<name> load") and leaves it
// ("<name> unload"), which lets a test count loads across unloads.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include <corvane/Toolbox.h>

#ifndef TEST_TOOLBOX_RESULT
#define TEST_TOOLBOX_RESULT TBX_SUCCESS
#endif
#ifndef TEST_TOOLBOX_API_VERSION
#define TEST_TOOLBOX_API_VERSION TBX_API_VERSION
#endif

namespace {

void NoteLoadEvent(const char* event) {
    const char* path = std::getenv("WARDEX_TEST_TOOLBOX_LOADS");
    if (path == nullptr) {
        return;
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    // One write per line: appends of a few bytes do not interleave between threads.
    const std::string line = std::string(TEST_TOOLBOX_NAME) + " " + event + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

__attribute__((constructor)) void OnLoad() {
    NoteLoadEvent("load");
}
__attribute__((destructor)) void OnUnload() {
    NoteLoadEvent("unload");
}

[[maybe_unused]] void Version(int* major, int* minor, int* build) {
    *major = 4;
    *minor = 2;
    *build = TEST_TOOLBOX_RESULT;
}

[[maybe_unused]] std::int32_t HandleMessage(msg::IQXMessage* message, IAgentAPI*) {
    const std::string trail = message->GetField("Trail");
    message->SetField(std::string("Trail"), trail + TEST_TOOLBOX_NAME + ";");
#ifdef TEST_TOOLBOX_THROWS
    throw std::runtime_error(TEST_TOOLBOX_NAME " failed");
#else
    return TEST_TOOLBOX_RESULT;
#endif
}

#ifdef TEST_TOOLBOX_NULL_ENTRIES
[[maybe_unused]] const ToolboxAPI kTable = {TEST_TOOLBOX_API_VERSION, nullptr, nullptr};
#else
[[maybe_unused]] const ToolboxAPI kTable = {TEST_TOOLBOX_API_VERSION, Version, HandleMessage};
#endif

}  // namespace

#ifndef TEST_TOOLBOX_NO_EXPORT
extern "C" const ToolboxAPI* GetToolboxAPI() {
#ifdef TEST_TOOLBOX_NULL_TABLE
    return nullptr;
#else
    return &kTable;
#endif
}
#endif
