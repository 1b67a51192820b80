// A toolbox for tests and benchmarks, built once per behaviour from this source; the
// definitions TEST_TOOLBOX_* choose its return code, its API version and its faults.
//
// Every message it handles gets its name appended to the field "Trail", so a test sees which
// toolboxes a message passed and in what order.

#include <string>

#include <corvane/Toolbox.h>

#ifndef TEST_TOOLBOX_RESULT
#define TEST_TOOLBOX_RESULT TBX_SUCCESS
#endif
#ifndef TEST_TOOLBOX_API_VERSION
#define TEST_TOOLBOX_API_VERSION TBX_API_VERSION
#endif

namespace {

[[maybe_unused]] void Version(int* major, int* minor, int* build) {
    *major = 4;
    *minor = 2;
    *build = TEST_TOOLBOX_RESULT;
}

[[maybe_unused]] std::int32_t HandleMessage(msg::IQXMessage* message, IAgentAPI*) {
    const std::string trail = message->GetField("Trail");
    message->SetField(std::string("Trail"), trail + TEST_TOOLBOX_NAME + ";");
    return TEST_TOOLBOX_RESULT;
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
