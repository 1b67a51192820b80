// The binary layout that toolboxes already built rely on: the entry table's members and the
// slots of the agent's callbacks. Both sides of a build compile the same headers, so only
// these checks notice a reordered or inserted member.

#include <cstddef>
#include <gtest/gtest.h>

#include <corvane/IAgentAPI.h>
#include <corvane/Toolbox.h>

#include "tests/support/VirtualSlot.h"

namespace {

using testsupport::SlotOf;

static_assert(offsetof(ToolboxAPI, APIVersion) == 0);
static_assert(offsetof(ToolboxAPI, Version) == 8);
static_assert(offsetof(ToolboxAPI, HandleMessage) == 16);
static_assert(sizeof(ToolboxAPI) == 24);

TEST(ToolboxContract, AgentCallbacksKeepTheirSlots) {
    EXPECT_EQ(SlotOf(&IAgentAPI::UserInput), 0);
    EXPECT_EQ(SlotOf(&IAgentAPI::AgentCommand), 1);
    EXPECT_EQ(SlotOf(&IAgentAPI::InvokeHandler), 2);
    EXPECT_EQ(SlotOf(&IAgentAPI::Log), 3);
    EXPECT_EQ(SlotOf(&IAgentAPI::NewMessage), 4);
    EXPECT_EQ(SlotOf(&IAgentAPI::Send), 5);
    EXPECT_EQ(SlotOf(&IAgentAPI::FetchFromMessageSink), 6);
    EXPECT_EQ(SlotOf(&IAgentAPI::FetchFromMessageSinkReverse), 7);
    EXPECT_EQ(SlotOf(&IAgentAPI::AddToMessageSink), 8);
}

TEST(ToolboxContract, ReturnCodesAndVersionKeepTheirValues) {
    EXPECT_EQ(TBX_FAILED, 0);
    EXPECT_EQ(TBX_SUCCESS, 1);
    EXPECT_EQ(TBX_NEXT_TOOLBOX, 2);
    EXPECT_EQ(TBX_API_VERSION, 1);
    EXPECT_STREQ(TBX_ENTRY_POINT, "GetToolboxAPI");
}

}  // namespace
