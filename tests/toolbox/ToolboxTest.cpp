#include <gtest/gtest.h>
#include <string>

#include <corvane/Toolbox.h>

#include "agent/Toolbox.h"
#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "tests/support/RecordingAgent.h"
#include "tests/toolbox/ToolboxFiles.h"

namespace {

using tbxtest::IsLoaded;
using tbxtest::Toolbox;

void ExpectFields(const CToolBoxError& error, const char* message, int line, int value) {
    EXPECT_STREQ(error.Source(), "Toolbox");
    EXPECT_STREQ(error.Message(), message);
    EXPECT_EQ(error.Line(), line);
    EXPECT_EQ(error.Value(), value);
    EXPECT_EQ(error.SystemError(), 0u);
}

void ExpectLoadFailure(CToolBox& toolbox, const char* message, int line, int value) {
    try {
        toolbox.Load();
        ADD_FAILURE() << toolbox.Name() << " loaded";
    } catch (const CToolBoxError& error) {
        ExpectFields(error, message, line, value);
    }
}

// The other load errors are checked through the dispatcher, which logs all their fields.
TEST(ToolBoxLoad, ASecondLoadOfOneObjectAndANullNameFail) {
    CToolBox toolbox(Toolbox("testtbx_success").c_str());
    EXPECT_TRUE(toolbox.Load());
    ExpectLoadFailure(toolbox, "Load - Library Already Loaded", 68, 0);
    CToolBox unnamed(nullptr);
    ExpectLoadFailure(unnamed, "Load - No library name specified", 72, 0);
}

TEST(ToolBoxLoad, ABareNameIsFoundBesideTheProgramThenByTheLinkersSearch) {
    // The test toolboxes are built beside this program; no linker search path holds them.
    CToolBox beside("testtbx_success.so");
    EXPECT_TRUE(beside.Load());
    EXPECT_TRUE(IsLoaded(Toolbox("testtbx_success")));

    // The C library is found by the linker's search; it loads and then lacks the entry point.
    CToolBox searched("libc.so.6");
    ExpectLoadFailure(searched, "Load - GetProcAddress returned NULL", 85, 1);
}

TEST(ToolBoxCall, MissingEntriesAndMissingLoadsRaiseInsteadOfCrashing) {
    testsupport::RecordingAgent agent;
    msg::CQXMessage message;
    int major = 0;
    int minor = 0;
    int build = 0;

    CToolBox incomplete(Toolbox("testtbx_nullentries").c_str());
    ASSERT_TRUE(incomplete.Load());
    EXPECT_THROW(incomplete.GetVersion(major, minor, build), CToolBoxError);
    EXPECT_THROW(incomplete.HandleMessage(&message, &agent), CToolBoxError);

    CToolBox notLoaded(Toolbox("testtbx_success").c_str());
    int apiVersion = 0;
    EXPECT_THROW(notLoaded.GetAPIVersion(apiVersion), CToolBoxError);
    EXPECT_THROW(notLoaded.HandleMessage(&message, &agent), CToolBoxError);
}

}  // namespace
