#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "agent/AgentState.h"
#include "common/msg/QXMessage.h"

namespace {

// The text of a message the state fills with every value it holds.
std::string Everything(CAgentState& state) {
    msg::CQXMessage everything;
    state.GetInto(everything);
    return everything.GetText();
}

TEST(AgentState, SetTakesOnlyAcceptedNamesAndKeepsTheFirstValue) {
    CAgentState state;
    state.Set("Task-Type", "7");
    state.Set("Task-Type", "8");
    state.Set("Unknown-Name", "x");
    state.Set("task-type", "9");
    EXPECT_EQ(Everything(state), "Task-Type=7\n");
}

TEST(AgentState, SetFromReplacesKnownValuesAndAddsOnlyAcceptedNewOnes) {
    CAgentState state;
    state.Set("Status-Code", "0");
    state.RestorePersisted({"", "", "", "cfg-1", "", ""});
    msg::CQXMessage update;
    update.SetLead("Request", "SetState");
    update.SetField("Status-Code", "5");
    update.SetField("Config", "cfg-2");
    update.SetField("ID", "42");
    update.SetField("Not-Accepted", "x");
    state.SetFrom(update);
    EXPECT_EQ(Everything(state),
              "Config=cfg-2\nID=42\nSchedule-ID=\nStatus-Code=5\nStatus-Module=\n"
              "Task-Sequence-ID=\nTask-Type=\n");
}

// "Specific" is matched with its case; the named-values form is checked with the agent's
// GetState command.
TEST(AgentState, AnyOtherRequestIsReplacedByEveryValue) {
    CAgentState state;
    state.Set("Task-Type", "7");
    state.Set("ID", "42");
    msg::CQXMessage request;
    request.SetLead("Request", "GetState");
    request.SetField("State", "specific");
    state.GetInto(request);
    EXPECT_STREQ(request.GetLeadName(), "");
    EXPECT_STREQ(request.GetText(), "ID=42\nTask-Type=7\n");
}

TEST(AgentState, TakingThePersistedValuesAddsTheMissingNamesEmpty) {
    CAgentState state;
    state.Set("Task-Type", "7");
    const CAgentState::Persisted values = state.TakePersisted();
    EXPECT_EQ(values, (CAgentState::Persisted{"", "7", "", "", "", ""}));
    EXPECT_EQ(
        Everything(state),
        "Config=\nSchedule-ID=\nStatus-Code=\nStatus-Module=\nTask-Sequence-ID=\nTask-Type=7\n");
}

class CountingObserver : public util::IObserver {
public:
    void Update(util::CObserved*, std::uint32_t) override { ++updates; }
    void ObservedDestroyed(util::CObserved*) override {}
    int updates = 0;
};

TEST(AgentState, EveryChangeNotifiesTheObservers) {
    CountingObserver observer;
    CAgentState state;
    state.Attach(&observer);
    state.Set("ID", "1");
    msg::CQXMessage update;
    update.SetField("ID", "2");
    state.SetFrom(update);
    EXPECT_EQ(observer.updates, 2);
    state.Detach(&observer);
}

}  // namespace
