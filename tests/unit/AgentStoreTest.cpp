#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "agent/store/AgentStore.h"
#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "tests/support/ScratchFiles.h"

namespace {

namespace fs = std::filesystem;

class AgentStore : public ::testing::Test {
protected:
    std::string FileText() const { return scratch::ReadFile(path_); }

    void WriteFile(const std::string& text) const { scratch::WriteFile(path_, text); }

    static std::string StateText(CAgentState& state) {
        msg::CQXMessage everything;
        state.GetInto(everything);
        return everything.GetText();
    }

    // Saves a state holding one value; the file's text.
    std::string SaveTaskType(const std::string& value) const {
        CAgentState state;
        state.Set("Task-Type", value);
        SaveAgentState(path_, state, MsgFifoQueue());
        return FileText();
    }

    scratch::ScratchFolder folder_;
    std::string path_ = folder_ / "wardex.dat";
};

// What one agent saves the next loads: the six persisted values (the missing ones empty,
// the rest of the state not at all, every byte of a value kept), and no file leaves the
// state as it was.
TEST_F(AgentStore, TheSixPersistedValuesCarryOverToTheNextAgent) {
    CAgentState first;
    msg::CQXMessage update;
    update.SetField("Task-Sequence-ID", "90210");
    update.SetField("Task-Type", "7\r\n8");
    update.SetField("ID", "not persisted");
    first.SetFrom(update);
    SaveAgentState(path_, first, MsgFifoQueue());

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

TEST_F(AgentStore, TheFileHoldsTheValuesAndThenTheQueuedMessagesInOrder) {
    CAgentState state;
    state.Set("Task-Type", "7");
    MsgFifoQueue outputQueue;
    msg::CQXMessage first, second, third;
    first.Assign("Reply=GetState\nTask-Type=7\n");
    second.Assign("Reply=Ping\n");
    third.Assign("Request=UpdateUser\nUsername=alice\n");
    for (msg::CQXMessage* message : {&first, &second, &third}) {
        outputQueue.Push(message);
    }
    SaveAgentState(path_, state, outputQueue);
    EXPECT_EQ(outputQueue.Size(), 3u) << "saving leaves the queue as it was";

    const std::string text = FileText();
    const std::string header = "22 serialization::archive ";
    ASSERT_EQ(text.rfind(header, 0), 0u) << text;
    EXPECT_EQ(text.substr(text.find(' ', header.size()) + 1, 28), "0 0 0  1 7 0  0  0  0  0 0 3")
        << "the state's class, its six values, the queue's class and the count: " << text;
    EXPECT_NE(text.find("msg::CQXMessage"), std::string::npos);
    const auto firstAt = text.find("Reply=GetState");
    const auto secondAt = text.find("Reply=Ping");
    const auto thirdAt = text.find("Request=UpdateUser");
    ASSERT_NE(firstAt, std::string::npos);
    EXPECT_LT(firstAt, secondAt);
    EXPECT_LT(secondAt, thirdAt);
}

TEST_F(AgentStore, AFileOfArchiveVersionThreeStillLoads) {
    // As an earlier agent wrote it: the six values, then one queued message.
    WriteFile(
        "22 serialization::archive 3 0 0 5 31337 1 4 0 6 cfg-12 1 0 7 modules 0 0 1 1 0 "
        "15 msg::CQXMessage 0 0 0 15 Reply=Ping\nA=1\n\n");
    CAgentState state;
    LoadAgentState(path_, state);
    EXPECT_EQ(StateText(state),
              "Config=cfg-12\nSchedule-ID=\nStatus-Code=0\nStatus-Module=modules\n"
              "Task-Sequence-ID=31337\nTask-Type=4\n");
}

// Whatever is wrong with the file, the agent goes on with an empty state and the newest
// unreadable file is kept aside for a person to look at.
TEST_F(AgentStore, AnUnreadableFileIsSetAsideAndTheStateStaysEmpty) {
    const std::string whole = SaveTaskType("7");
    const std::string random("\x8f\x00\x13 serialization\xff\xfe\x01", 20);
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"cut short", whole.substr(0, whole.size() / 2)},
        {"random bytes", random},
        {"a future archive version", "22 serialization::archive 99 0 0 1 1"},
        {"empty", ""},
    };
    for (const auto& damaged : cases) {
        WriteFile(damaged.text);
        CAgentState state;
        EXPECT_NE(LoadAgentState(path_, state), "") << damaged.name;
        EXPECT_EQ(StateText(state), "") << damaged.name;
        EXPECT_FALSE(fs::exists(path_)) << damaged.name;
        EXPECT_EQ(scratch::ReadFile(path_ + ".damaged"), damaged.text) << damaged.name;
    }
}

TEST_F(AgentStore, AFailedSaveKeepsThePreviousFileAndASavedOneLeavesNoTemporaryFile) {
    const std::string before = SaveTaskType("7");
    fs::create_directory(path_ + ".tmp");  // where the new file would be written
    EXPECT_THROW(SaveTaskType("8"), util::CFileIOError);
    EXPECT_EQ(FileText(), before);

    fs::remove(path_ + ".tmp");
    SaveTaskType("8");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_.Path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"wardex.dat"}) << "no temporary file is left";
}

}  // namespace
