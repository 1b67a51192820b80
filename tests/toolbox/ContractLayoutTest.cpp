// The binary layout that toolboxes already built rely on: the entry table's members and the
// slots of the agent's callbacks. Both sides of a build compile the same headers, so only
// these checks notice a reordered or inserted member.

#include <string_view>

#include <corvane/IAgentAPI.h>
#include <corvane/Toolbox.h>

#include "tests/support/TestBasics.h"
#include "tests/support/VirtualSlot.h"

namespace {

using testsupport::SlotOf;

// Pointer-sized members: 8 bytes on x86-64, 4 on x86.
constexpr std::size_t kPointer = sizeof(void*);
static_assert(offsetof(ToolboxAPI, APIVersion) == 0);
static_assert(offsetof(ToolboxAPI, Version) == kPointer);
static_assert(offsetof(ToolboxAPI, HandleMessage) == 2 * kPointer);
static_assert(sizeof(ToolboxAPI) == 3 * kPointer);
static_assert(TBX_FAILED == 0 && TBX_SUCCESS == 1 && TBX_NEXT_TOOLBOX == 2);
static_assert(TBX_API_VERSION == 1 && std::string_view(TBX_ENTRY_POINT) == "GetToolboxAPI");

// Slot n is the n-th entry here.
TEST(ToolboxContract, AgentCallbacksKeepTheirSlots) {
    EXPECT_EQ(
        (std::vector<std::ptrdiff_t>{
            SlotOf(&IAgentAPI::UserInput), SlotOf(&IAgentAPI::AgentCommand),
            SlotOf(&IAgentAPI::InvokeHandler), SlotOf(&IAgentAPI::Log),
            SlotOf(&IAgentAPI::NewMessage), SlotOf(&IAgentAPI::Send),
            SlotOf(&IAgentAPI::FetchFromMessageSink),
            SlotOf(&IAgentAPI::FetchFromMessageSinkReverse), SlotOf(&IAgentAPI::AddToMessageSink)}),
        (std::vector<std::ptrdiff_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
