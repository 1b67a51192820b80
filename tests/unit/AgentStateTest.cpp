#include <iterator>

#include "agent/store/AgentState.h"
#include "agent/store/AgentStore.h"
#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "tests/support/TestBasics.h"

namespace {

namespace fs = std::filesystem;

std::string StateText(const CAgentState& state) {
    msg::CQXMessage everything;
    state.GetInto(everything);
    return everything.GetText();
}

// The agent records the server's address with Set once per connection; a server's SetState
// goes through SetFrom. Only accepted names (matched with their case) enter either way: the
// persisted names outside the key table enter by the agent's own mark (or the state file),
// and only then does a SetState replace them.
TEST(AgentState, SetKeepsTheFirstValueSetFromReplacesAndOnlyAcceptedNamesEnter) {
    CAgentState state;
    state.Set("Task-Type", "7");
    state.Set("Task-Type", "8");
    state.Set("task-type", "9");
    state.Set("Unknown-Name", "x");
    state.Set("Desination-Address", "10.0.0.1");  // as older servers spell it
    msg::CQXMessage update;
    update.Assign("Request=SetState\nTask-Type=5\nConfig=cfg-2\nStatus-Module=m\nNot-Accepted=x\n");
    state.SetFrom(update);
    state.Set("Config", "ignored");
    EXPECT_EQ(StateText(state), "Desination-Address=10.0.0.1\nTask-Type=5\n");
    state.Mark("Config", "Reply");
    state.Mark("Not-Persisted", "x");
    state.SetFrom(update);

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

class AgentStore : public ::testing::Test {
protected:
    // Saves a state holding one value; the file's text.
    std::string SaveTaskType(const std::string& value) const {
        CAgentState state;
        state.Set("Task-Type", value);
        SaveAgentState(path_, state, MsgFifoQueue());
        return scratch::ReadFile(path_);
    }

    scratch::ScratchFolder folder_;
    std::string path_ = folder_ / "wardex.dat";
};

// What one agent saves the next loads: the six persisted values (the missing ones empty,
// the rest of the state not at all, every byte of a value kept), and no file leaves the
// state as it was. The queued messages follow the values in their order, and the queue
// keeps them.
TEST_F(AgentStore, TheSixPersistedValuesCarryOverToTheNextAgent) {
    CAgentState first;
    msg::CQXMessage update, reply, request;
    update.SetField("Task-Sequence-ID", "90210");
    update.SetField("Task-Type", "7\r\n8");
    update.SetField("ID", "not persisted");
    first.SetFrom(update);
    MsgFifoQueue outputQueue;
    reply.Assign("Reply=GetState\nTask-Type=7\n");
    request.Assign("Request=UpdateUser\nUsername=alice\n");
    outputQueue.Push(&reply);
    outputQueue.Push(&request);
    SaveAgentState(path_, first, outputQueue);
    EXPECT_EQ(outputQueue.Size(), 2u);
    const std::string text = scratch::ReadFile(path_);
    EXPECT_LT(text.find("90210"), text.find("Reply=GetState"));
    EXPECT_LT(text.find("Reply=GetState"), text.find("Request=UpdateUser"));
    EXPECT_NE(text.find("Request=UpdateUser"), std::string::npos);

    CAgentState none;
    LoadAgentState(folder_ / "missing.dat", none);
    EXPECT_EQ(StateText(none), "");
    CAgentState second;
    second.Set("Task-Type", "replaced by the file");
    LoadAgentState(path_, second);
    EXPECT_EQ(StateText(second),
              "Config=\nSchedule-ID=\nStatus-Code=\nStatus-Module=\nTask-Sequence-ID=90210\n"
              "Task-Type=7\r\n8\n");
}

// A file of an earlier agent still loads. Whatever is wrong with a file, the agent goes on
// with an empty state and the newest unreadable file is kept aside for a person to look at.
TEST_F(AgentStore, AnOlderFileLoadsAndAnUnreadableOneIsSetAsideLeavingTheStateEmpty) {
    const std::string whole = SaveTaskType("7");
    const struct {
        const char* name;
        std::string text;
        std::string state;  // empty for a file that is set aside
    } cases[] = {
        // The six values, then one queued message.
        {"archive version three",
         "22 serialization::archive 3 0 0 5 31337 1 4 0 6 cfg-12 1 0 7 modules 0 0 1 1 0 "
         "15 msg::CQXMessage 0 0 0 15 Reply=Ping\nA=1\n\n",
         "Config=cfg-12\nSchedule-ID=\nStatus-Code=0\nStatus-Module=modules\n"
         "Task-Sequence-ID=31337\nTask-Type=4\n"},
        {"cut short", whole.substr(0, whole.size() / 2), ""},
        {"random bytes", std::string("\x8f\x00\x13 serialization\xff\xfe\x01", 20), ""},
        {"a future archive version", "22 serialization::archive 99 0 0 1 1", ""},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch::WriteFile(path_, c.text);
        CAgentState state;
        const bool setAside = c.state.empty();
        EXPECT_EQ(LoadAgentState(path_, state).empty(), !setAside);
        EXPECT_EQ(StateText(state), c.state);
        EXPECT_EQ(fs::exists(path_), !setAside);
        EXPECT_EQ(scratch::ReadFile(path_ + ".damaged"), setAside ? c.text : "");
    }
}

TEST_F(AgentStore, AFailedSaveKeepsThePreviousFileAndASavedOneLeavesNoTemporaryFile) {
    const std::string before = SaveTaskType("7");
    fs::create_directory(path_ + ".tmp");  // where the new file would be written
    EXPECT_THROW(SaveTaskType("8"), util::CFileIOError);
    EXPECT_EQ(scratch::ReadFile(path_), before);

    fs::remove(path_ + ".tmp");
    SaveTaskType("8");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_.Path()), fs::directory_iterator()), 1)
        << "no temporary file is left";
}

}  // namespace
