#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include <corvane/Toolbox.h>

#include "agent/TbxDispatch.h"
#include "agent/Toolbox.h"
#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/ScratchFiles.h"
#include "tests/toolbox/ToolboxFiles.h"

namespace {

using tbxtest::IsLoaded;
using tbxtest::Toolbox;
using testsupport::LogLine;

util::ParamList List(const std::vector<std::string>& names) {
    util::ParamList list;
    for (const std::string& name : names) {
        list.Add(name);
    }
    return list;
}

// Dispatches one fresh message and returns the toolboxes it passed, in order.
std::string Dispatch(const TbxDispatch& dispatch, IAgentAPI& agent) {
    msg::CQXMessage message;
    message.SetLead("Request", "Test");
    dispatch.HandleMessage(&message, &agent);
    return message.GetField("Trail");
}

// The last line the dispatcher logged: the code the last toolbox asked returned.
std::string LastLine(const testsupport::RecordingAgent& agent) {
    const std::vector<LogLine> lines = agent.Lines();
    return lines.empty() ? std::string() : lines.back().text;
}

void ExpectAllFreed(const std::vector<std::string>& toolboxes) {
    for (const std::string& toolbox : toolboxes) {
        EXPECT_FALSE(IsLoaded(Toolbox(toolbox))) << toolbox;
    }
}

// Points the test toolboxes' load log at a file for the life of the object.
class LoadLog {
public:
    LoadLog() { ::setenv("WARDEX_TEST_TOOLBOX_LOADS", path_.c_str(), 1); }
    ~LoadLog() { ::unsetenv("WARDEX_TEST_TOOLBOX_LOADS"); }
    LoadLog(const LoadLog&) = delete;
    LoadLog& operator=(const LoadLog&) = delete;

    int Count(const std::string& toolbox, const std::string& event) const {
        return tbxtest::CountLoadEvents(path_, toolbox, event);
    }

private:
    scratch::ScratchFolder folder_;
    std::string path_ = folder_ / "loads.log";
};

// The message passes the toolboxes in list order while they answer TBX_NEXT_TOOLBOX; any
// other code ends the chain, and a toolbox of another API version is skipped. The last line
// logged names the code the last toolbox asked returned; every library is freed after.
TEST(TbxDispatchChain, TheCodeOfEachToolboxDecidesWhetherTheNextIsAsked) {
    struct Case {
        std::vector<std::string> toolboxes;
        const char* trail;
        const char* lastLine;
    };
    const std::vector<Case> cases = {
        {{}, "", ""},
        {{"testtbx_next", "testtbx_success"},
         "testtbx_next;testtbx_success;",
         "testtbx_success.so returned TBX_SUCCESS"},
        {{"testtbx_failed", "testtbx_next"},
         "testtbx_failed;",
         "testtbx_failed.so returned TBX_FAILED"},
        {{"testtbx_success", "testtbx_next"},
         "testtbx_success;",
         "testtbx_success.so returned TBX_SUCCESS"},
        {{"testtbx_unknown", "testtbx_next"},
         "testtbx_unknown;",
         "testtbx_unknown.so returned UNKNOWN RETURN CODE"},
        {{"testtbx_api0", "testtbx_api2", "testtbx_success"},
         "testtbx_success;",
         "testtbx_success.so returned TBX_SUCCESS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trail);
        testsupport::RecordingAgent agent;
        std::vector<std::string> files;
        for (const std::string& toolbox : c.toolboxes) {
            files.push_back(toolbox + ".so");
        }
        EXPECT_EQ(Dispatch(TbxDispatch(List(files)), agent), c.trail);
        EXPECT_EQ(
            LastLine(agent),
            *c.lastLine ? "TbxDispatch:102 HandleMessage() - " + std::string(c.lastLine) : "");
        ExpectAllFreed(c.toolboxes);
    }
    testsupport::RecordingAgent agent;
    Dispatch(TbxDispatch(List({"testtbx_next.so", "testtbx_api2.so"})), agent);
    EXPECT_EQ(agent.CountLines("HandleMessage() - calling testtbx_next.so Version(4.2.2)", 1), 1u);
    EXPECT_EQ(agent.CountLines("testtbx_next.so  returned TBX_NEXT_TOOLBOX", 1), 1u);
    EXPECT_EQ(
        agent.CountLines(
            "TbxDispatch:55 testtbx_api2.so - HandleMessage() TbxAPI Mismatch - need 1, found 2",
            0),
        1u);
}

TEST(TbxDispatchFailure, AToolboxThatCannotBeUsedStopsTheChainAtItsPosition) {
    scratch::ScratchFolder folder;
    const std::string text = folder / "notes.so";
    std::ofstream(text) << "not a shared library\n";
    struct Case {
        std::string toolbox;
        const char* message;
        int sourceLine;
        int value;
    };
    const std::vector<Case> cases = {
        {folder / "missing.so", "Load - LoadLibrary returned NULL", 78, 0},
        {text, "Load - LoadLibrary returned NULL", 78, 0},
        {"", "Load - No library name specified", 72, 0},
        {Toolbox("testtbx_noexport"), "Load - GetProcAddress returned NULL", 85, 1},
        {Toolbox("testtbx_nulltable"), "Load - GetAPI returned NULL", 92, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toolbox);
        testsupport::RecordingAgent agent;
        const TbxDispatch dispatch(List({"testtbx_next.so", c.toolbox, "testtbx_success.so"}));
        msg::CQXMessage message;
        try {
            dispatch.HandleMessage(&message, &agent);
            ADD_FAILURE() << "no error raised";
        } catch (const err::CGeneralError& error) {
            EXPECT_EQ(typeid(error), typeid(err::CGeneralError));
            EXPECT_STREQ(error.Source(), "TbxDispatch");
            EXPECT_STREQ(error.Message(), c.message);
            EXPECT_EQ(error.Line(), 114);
            EXPECT_EQ(error.Value(), c.value);
            EXPECT_EQ(error.SystemError(), 0u);
        }
        // The toolbox before the failing one was asked; the one after never was.
        EXPECT_STREQ(message.GetField("Trail"), "testtbx_next;");
        const std::vector<LogLine> lines = agent.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), (LogLine{0, "TbxDispatch:110 exception caught\n\tToolbox:" +
                                                std::to_string(c.sourceLine) + " - " + c.message +
                                                "\n\tValue = " + std::to_string(c.value) +
                                                ", GetLastError = 0"}));
        EXPECT_EQ(agent.CountLines("testtbx_success"), 0u);
        ExpectAllFreed({"testtbx_next", "testtbx_noexport", "testtbx_nulltable"});
    }
}

TEST(TbxDispatchFailure, TheLoadersReasonIsLoggedBeforeTheError) {
    scratch::ScratchFolder folder;
    const std::string text = folder / "notes.so";
    std::ofstream(text) << "not a shared library\n";
    testsupport::RecordingAgent agent;

    EXPECT_THROW(Dispatch(TbxDispatch(List({text})), agent), err::CGeneralError);
    const std::vector<LogLine> lines = agent.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].level, 0);
    EXPECT_EQ(lines[1].text.rfind("TbxDispatch:108 " + text + " - ", 0), 0u) << lines[1].text;
}

TEST(TbxDispatchFailure, AToolboxsOwnExceptionReachesTheCallerWithTheLibrariesFreed) {
    testsupport::RecordingAgent agent;
    const TbxDispatch dispatch(
        List({"testtbx_next.so", "testtbx_throws.so", "testtbx_success.so"}));
    msg::CQXMessage message;
    try {
        dispatch.HandleMessage(&message, &agent);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "testtbx_throws failed");
    }
    EXPECT_STREQ(message.GetField("Trail"), "testtbx_next;testtbx_throws;");
    ExpectAllFreed({"testtbx_next", "testtbx_throws", "testtbx_success"});
}

TEST(TbxDispatchLifetime, EachMessageLoadsAndFreesEachToolboxItPasses) {
    LoadLog loads;
    testsupport::RecordingAgent agent;
    const TbxDispatch dispatch(
        List({"testtbx_next.so", "testtbx_success.so", "testtbx_failed.so"}));
    for (int i = 0; i < 3; ++i) {
        Dispatch(dispatch, agent);
    }
    for (const char* toolbox : {"testtbx_next", "testtbx_success"}) {
        EXPECT_EQ(loads.Count(toolbox, "load"), 3) << toolbox;
        EXPECT_EQ(loads.Count(toolbox, "unload"), 3) << toolbox;
    }
    EXPECT_EQ(loads.Count("testtbx_failed", "load"), 0);

    // While something else holds a library, messages share it and load nothing more.
    CToolBox holder(Toolbox("testtbx_success").c_str());
    holder.Load();
    Dispatch(dispatch, agent);
    Dispatch(dispatch, agent);
    EXPECT_EQ(loads.Count("testtbx_success", "load"), 4);
    EXPECT_EQ(loads.Count("testtbx_next", "load"), 5);
}

TEST(TbxDispatchLifetime, AToolboxReplacedOnDiskRunsItsNewCodeFromTheNextMessage) {
    scratch::ScratchFolder folder;
    const std::string installed = folder / "current.so";
    tbxtest::InstallLibrary(Toolbox("testtbx_success"), installed);
    testsupport::RecordingAgent agent;
    const TbxDispatch dispatch(List({installed}));

    EXPECT_EQ(Dispatch(dispatch, agent), "testtbx_success;");
    tbxtest::InstallLibrary(Toolbox("testtbx_failed"), installed);
    EXPECT_EQ(Dispatch(dispatch, agent), "testtbx_failed;");
    EXPECT_EQ(agent.Lines().back().text,
              "TbxDispatch:102 HandleMessage() - " + installed + " returned TBX_FAILED");
    EXPECT_FALSE(IsLoaded(installed));
}

TEST(TbxDispatchLifetime, ManyThreadsDispatchThroughTheSameToolboxesAtOnce) {
    constexpr int kThreads = 8;
    constexpr int kMessagesEach = 40;
    LoadLog loads;
    testsupport::RecordingAgent agent;
    const TbxDispatch dispatch(List({"testtbx_next.so", "testtbx_success.so"}));

    std::vector<int> wrongTrails(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kMessagesEach; ++i) {
                wrongTrails[t] += Dispatch(dispatch, agent) != "testtbx_next;testtbx_success;";
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(wrongTrails[t], 0) << "thread " << t;
    }
    EXPECT_EQ(agent.Lines().size(), std::size_t{kThreads * kMessagesEach * 6});
    for (const char* toolbox : {"testtbx_next", "testtbx_success"}) {
        EXPECT_GE(loads.Count(toolbox, "load"), 1) << toolbox;
        EXPECT_EQ(loads.Count(toolbox, "load"), loads.Count(toolbox, "unload")) << toolbox;
    }
    ExpectAllFreed({"testtbx_next", "testtbx_success"});
}

}  // namespace
