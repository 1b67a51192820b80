#include <gtest/gtest.h>
#include <string>

#include "agent/store/AgentState.h"
#include "common/msg/QXMessage.h"

namespace {

// The agent records the server's address with Set once per connection; a server's SetState
// goes through SetFrom. Only accepted names (matched with their case) enter either way.
TEST(AgentState, SetKeepsTheFirstValueSetFromReplacesAndOnlyAcceptedNamesEnter) {
    CAgentState state;
    state.Set("Task-Type", "7");
    state.Set("Task-Type", "8");
    state.Set("task-type", "9");
    state.Set("Unknown-Name", "x");
    state.Set("Desination-Address", "10.0.0.1");  // as older servers spell it
    msg::CQXMessage update;
    update.SetLead("Request", "SetState");
    update.SetField("Task-Type", "5");
    update.SetField("Config", "cfg-2");
    update.SetField("Not-Accepted", "x");
    state.SetFrom(update);
    state.Set("Config", "ignored");

    // "Specific" (matched with its case) fills the request's own fields; any other request
    // is replaced by every value.
    msg::CQXMessage specific;
    specific.Assign("Request=GetState\nState=Specific\nTask-Type=\nSchedule-ID=\n");
    state.GetInto(specific);
    EXPECT_STREQ(specific.GetText(), "Request=GetState\nSchedule-ID=\nState=\nTask-Type=5\n");
    msg::CQXMessage request;
    request.Assign("Request=GetState\nState=specific\n");
    state.GetInto(request);
    EXPECT_STREQ(request.GetLeadName(), "");
    EXPECT_STREQ(request.GetText(), "Config=cfg-2\nDesination-Address=10.0.0.1\nTask-Type=5\n");
}

}  // namespace
