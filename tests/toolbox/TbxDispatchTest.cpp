#include <fstream>

#include <corvane/Toolbox.h>

#include "agent/toolbox/KeptToolboxes.h"
#include "agent/toolbox/TbxDispatch.h"
#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "tests/support/Environment.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/TestBasics.h"
#include "tests/toolbox/ToolboxFiles.h"

namespace {

using tbxtest::File;
using tbxtest::Toolbox;

// The line logged when the toolbox at a place in the chain cannot be used.
std::string Caught(int sourceLine, const std::string& message, int value) {
    return "TbxDispatch:110 exception caught\n\tToolbox:" + std::to_string(sourceLine) + " - " +
           message + "\n\tValue = " + std::to_string(value) + ", GetLastError = 0";
}

std::string Returned(const std::string& toolbox, const char* code) {
    return "TbxDispatch:102 HandleMessage() - " + File(toolbox) + " returned " + code;
}

// The message passes the toolboxes in list order while they answer TBX_NEXT_TOOLBOX; any other
// code ends the chain, and a toolbox of another API version is skipped. A toolbox that cannot
// be used raises an error at its place and logs why; bare names are looked for beside the
// program, then in the system's folders (which hold the system's own library), and never in
// a PATH folder, where users may put files for the service to run. Each row's
// toolbox stands between testtbx_next and testtbx_success; the row names the toolboxes asked
// after testtbx_next, in order, and a line logged, which for a raised error names it. Every
// library is freed after.
TEST(TbxDispatch, TheChainAsksEachToolboxInTurnUntilOneAnswersOrFails) {
    scratch::ScratchFolder folder;
    const std::string text = folder / File("notes");
    std::ofstream(text) << "not a shared library\n";
    scratch::ScratchFolder onPath;
    std::filesystem::copy_file(Toolbox("testtbx_success"), onPath / File("testtbx_onpath"));
    const char* const systemPath = std::getenv("PATH");
    const std::string keptPath = systemPath != nullptr ? systemPath : "";
    testsupport::SetVariable("PATH", onPath.Path().string().c_str());
    const std::string notLoaded = "Load - LoadLibrary returned NULL";
    const std::string noEntry = "Load - GetProcAddress returned NULL";
    struct Row {
        std::string toolbox;
        const char* trail;
        std::string logged;
        bool raises = false;
    };
    const std::string success = Returned("testtbx_success", "TBX_SUCCESS");
    const std::vector<Row> rows = {
        {File("testtbx_success"), "testtbx_success;", success},
        {File("testtbx_failed"), "testtbx_failed;", Returned("testtbx_failed", "TBX_FAILED")},
        {File("testtbx_unknown"), "testtbx_unknown;", Returned("testtbx_unknown", "UNKNOWN")},
        {File("testtbx_api0"), "testtbx_success;", success},
        {File("testtbx_api2"), "testtbx_success;", success},
        {folder / File("missing"), "", Caught(78, notLoaded, 0), true},
        {text, "", Caught(78, notLoaded, 0), true},
        {File("testtbx_onpath"), "", Caught(78, notLoaded, 0), true},
        {"", "", Caught(72, "Load - No library name specified", 0), true},
        {Toolbox("testtbx_noexport"), "", Caught(85, noEntry, 1), true},
        {WARDEX_SYSTEM_LIBRARY, "", Caught(85, noEntry, 1), true},
        {Toolbox("testtbx_nulltable"), "", Caught(92, "Load - GetAPI returned NULL", 2), true},
        {Toolbox("testtbx_nullentries"), "", "GetVersion - Version entry is NULL\n\tValue = 3",
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.toolbox);
        testsupport::RecordingAgent agent;
        util::ParamList list;
        for (const std::string& toolbox :
             {File("testtbx_next"), row.toolbox, File("testtbx_success")}) {
            list.Add(toolbox);
        }
        msg::CQXMessage message;
        std::string raisedAt = "nothing";
        std::string raised;
        try {
            TbxDispatch(list).HandleMessage(&message, &agent);
        } catch (const err::CGeneralError& error) {
            raisedAt = std::string(error.Source()) + ":" + std::to_string(error.Line());
            raised = error.Message();
        }
        EXPECT_EQ(message.GetField("Trail"), "testtbx_next;" + std::string(row.trail));
        EXPECT_EQ(agent.CountLines(row.logged), 1u);
        EXPECT_EQ(raisedAt, row.raises ? "TbxDispatch:114" : "nothing");
        EXPECT_NE(row.logged.find(raised), std::string::npos) << raised;
        for (const char* name : {"testtbx_next", "testtbx_success", "testtbx_noexport"}) {
            EXPECT_FALSE(tbxtest::IsLoaded(Toolbox(name))) << name;
        }
    }
    testsupport::SetVariable("PATH", keptPath.c_str());
}

// A thread with a keeper holds the libraries its messages went through, from one message to
// the next, until the keeper goes; on a thread without one, each is freed as its message is
// done.
TEST(TbxDispatch, AThreadsKeeperHoldsTheToolboxesOfItsMessagesUntilItGoes) {
    testsupport::RecordingAgent agent;
    util::ParamList list;
    list.Add(File("testtbx_next"));
    list.Add(File("testtbx_success"));
    const TbxDispatch dispatch(list);
    const auto handle = [&dispatch, &agent] {
        msg::CQXMessage message;
        dispatch.HandleMessage(&message, &agent);
        EXPECT_STREQ(message.GetField("Trail"), "testtbx_next;testtbx_success;");
    };
    const auto loaded = [](const char* name) { return tbxtest::IsLoaded(Toolbox(name)); };
    {
        const toolbox::KeptToolboxes kept;
        handle();
        handle();
        EXPECT_TRUE(loaded("testtbx_next"));
        EXPECT_TRUE(loaded("testtbx_success"));
    }
    EXPECT_FALSE(loaded("testtbx_next"));
    EXPECT_FALSE(loaded("testtbx_success"));
    handle();
    EXPECT_FALSE(loaded("testtbx_next"));
    EXPECT_FALSE(loaded("testtbx_success"));
}

}  // namespace
