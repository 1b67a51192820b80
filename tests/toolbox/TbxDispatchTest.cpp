#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <typeinfo>
#include <vector>

#include <corvane/Toolbox.h>

#include "agent/toolbox/TbxDispatch.h"
#include "agent/toolbox/Toolbox.h"
#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/ScratchFiles.h"
#include "tests/toolbox/ToolboxFiles.h"

namespace {

using tbxtest::File;
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

void ExpectAllFreed(const std::vector<std::string>& toolboxes) {
    for (const std::string& toolbox : toolboxes) {
        EXPECT_FALSE(IsLoaded(Toolbox(toolbox))) << toolbox;
    }
}

// The message passes the toolboxes in list order while they answer TBX_NEXT_TOOLBOX; any
// other code ends the chain, and a toolbox of another API version is skipped. The last line
// logged names the code the last toolbox asked returned; every library is freed after.
TEST(TbxDispatchChain, TheCodeOfEachToolboxDecidesWhetherTheNextIsAsked) {
    struct Case {
        std::vector<std::string> toolboxes;
        std::string trail;
        const char* lastCode;
    };
    const std::vector<Case> cases = {
        {{}, "", ""},
        {{"testtbx_next", "testtbx_success"}, "testtbx_next;testtbx_success;", "TBX_SUCCESS"},
        {{"testtbx_failed", "testtbx_next"}, "testtbx_failed;", "TBX_FAILED"},
        {{"testtbx_success", "testtbx_next"}, "testtbx_success;", "TBX_SUCCESS"},
        {{"testtbx_unknown", "testtbx_next"}, "testtbx_unknown;", "UNKNOWN RETURN CODE"},
        {{"testtbx_api0", "testtbx_api2", "testtbx_success"}, "testtbx_success;", "TBX_SUCCESS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trail);
        testsupport::RecordingAgent agent;
        std::vector<std::string> files;
        for (const std::string& toolbox : c.toolboxes) {
            files.push_back(File(toolbox));
        }
        msg::CQXMessage message;
        TbxDispatch(List(files)).HandleMessage(&message, &agent);
        EXPECT_STREQ(message.GetField("Trail"), c.trail.c_str());
        const std::vector<LogLine> lines = agent.Lines();
        // The last toolbox of the trail is named by its file.
        const std::string trail = c.trail.substr(0, c.trail.size() - (c.trail.empty() ? 0 : 1));
        const std::string last = trail.substr(trail.rfind(';') + 1);
        EXPECT_EQ(lines.empty() ? "" : lines.back().text,
                  c.trail.empty() ? ""
                                  : "TbxDispatch:102 HandleMessage() - " + File(last) +
                                        " returned " + c.lastCode);
        ExpectAllFreed(c.toolboxes);
    }
}

// A toolbox that cannot be used raises an error at its place in the chain and logs it; bare
// names are looked for beside the program, then by the loader's search (which finds the
// system's own library).
TEST(TbxDispatchFailure, AToolboxThatCannotBeUsedStopsTheChainAtItsPosition) {
    scratch::ScratchFolder folder;
    const std::string text = folder / File("notes");
    std::ofstream(text) << "not a shared library\n";
    struct Case {
        std::string toolbox;
        const char* message;
        int sourceLine;
        int value;
    };
    const std::vector<Case> cases = {
        {folder / File("missing"), "Load - LoadLibrary returned NULL", 78, 0},
        {text, "Load - LoadLibrary returned NULL", 78, 0},
        {"", "Load - No library name specified", 72, 0},
        {Toolbox("testtbx_noexport"), "Load - GetProcAddress returned NULL", 85, 1},
        {WARDEX_SYSTEM_LIBRARY, "Load - GetProcAddress returned NULL", 85, 1},
        {Toolbox("testtbx_nulltable"), "Load - GetAPI returned NULL", 92, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toolbox);
        testsupport::RecordingAgent agent;
        const TbxDispatch dispatch(
            List({File("testtbx_next"), c.toolbox, File("testtbx_success")}));
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
        }
        // The toolbox before the failing one was asked; the one after never was.
        EXPECT_STREQ(message.GetField("Trail"), "testtbx_next;");
        const std::vector<LogLine> lines = agent.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), (LogLine{0, "TbxDispatch:110 exception caught\n\tToolbox:" +
                                                std::to_string(c.sourceLine) + " - " + c.message +
                                                "\n\tValue = " + std::to_string(c.value) +
                                                ", GetLastError = 0"}));
        ExpectAllFreed({"testtbx_next", "testtbx_noexport", "testtbx_nulltable"});
    }
}

// A toolbox whose table lacks its entries raises instead of crashing.
TEST(ToolBoxCall, MissingEntriesRaise) {
    testsupport::RecordingAgent agent;
    msg::CQXMessage message;
    int major = 0, minor = 0, build = 0;
    CToolBox incomplete(Toolbox("testtbx_nullentries").c_str());
    ASSERT_TRUE(incomplete.Load());
    EXPECT_THROW(incomplete.GetVersion(major, minor, build), CToolBoxError);
    EXPECT_THROW(incomplete.HandleMessage(&message, &agent), CToolBoxError);
}

}  // namespace
